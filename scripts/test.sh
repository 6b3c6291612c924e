#!/usr/bin/env bash
# Runs every test: the host unit tests, a short run of every fuzzing harness, the static
# checks of the shipped 32-bit programs, then the Windows-side tests and the end-to-end
# tests under Wine (the rig fixture starts and stops its own prefix and display).
#
# Which Windows build runs under Wine depends on the host (scripts/wine-rig.sh kind):
#   a host that runs 32-bit programs tests the shipped i686 build (build/win32), in a 32-bit
#     prefix and, for a whole install, in a 64-bit one;
#   a host that cannot builds the same sources for x86_64 (build/win64) and tests that under
#     64-bit Wine; the i686 build is still compiled and checked statically.
#
#   bash scripts/test.sh              everything
#   TALVEN_WINE=win64 bash scripts/test.sh
#                                     the fallback path on a host that could run 32-bit
#   JOBS=N bash scripts/test.sh       build with N jobs (default 2)
#   FUZZ_SECONDS=N bash scripts/test.sh
#                                     each harness's share of the fuzzing smoke (default 20)
#   HOST_BUILD=dir WIN32_BUILD=dir WIN64_BUILD=dir
#                                     other build folders (defaults build/host, build/win32,
#                                     build/win64)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
jobs=${JOBS:-2}
host_build=${HOST_BUILD:-build/host}
win32_build=${WIN32_BUILD:-${WIN_BUILD:-build/win32}}
win64_build=${WIN64_BUILD:-build/win64}

bash scripts/setup-deps.sh

start=$(date +%s)
status=0
summary=()
logs=()

step() { echo; echo "=== $* ==="; }

# run_ctest NAME LOG CTEST_ARGS...: one summary line, and the status.
run_ctest() {
  local name=$1 log=$2
  shift 2
  logs+=("$log")
  if ctest --output-on-failure "$@" 2>&1 | tee "$log"; then
    summary+=("$name $(grep -E 'tests passed' "$log" | tail -n 1)")
  else
    status=1
    summary+=("$name FAILED: $(grep -E 'tests passed' "$log" | tail -n 1)")
  fi
}

kind=$(bash scripts/wine-rig.sh kind)
wine_line="Wine tests: $(bash scripts/wine-rig.sh describe "$kind")"
[ "$kind" = win32 ] && wine_line+=" (a 32-bit prefix; wow64.*: a 64-bit one)"
echo "$wine_line"

step "host: configure and build ($host_build)"
cmake --preset host -B "$host_build" >/dev/null
cmake --build "$host_build" -j "$jobs"

step "host: tests"
run_ctest "host: " "$host_build/ctest.log" --test-dir "$host_build" -j "$jobs"

step "fuzz: every harness for ${FUZZ_SECONDS:-20} s (bash scripts/fuzz.sh)"
if bash scripts/fuzz.sh "${FUZZ_SECONDS:-20}" 2>&1 | tee build/fuzz-smoke.log; then
  summary+=("fuzz:  $(grep -cE ' runs in ' build/fuzz-smoke.log) harnesses without a finding")
else
  status=1
  summary+=("fuzz:  FAILED: $(grep -E 'FAILED' build/fuzz-smoke.log | head -n 3 | tr '\n' ' ')")
fi

step "win32: configure and build ($win32_build)"
cmake --preset win32 -B "$win32_build" -DHOST_BUILD_DIR="$repo/$host_build" >/dev/null
cmake --build "$win32_build" -j "$jobs"

# The Wine tests hold one lock, so they run one at a time whatever -j says.
if [ "$kind" = win32 ]; then
  step "win32: static checks and tests under Wine"
  run_ctest "win32:" "$win32_build/ctest.log" --test-dir "$win32_build" --timeout 300
else
  step "win32: static checks (this build's Wine tests need a host that runs 32-bit programs)"
  run_ctest "win32 static:" "$win32_build/ctest-static.log" --test-dir "$win32_build" -L static

  step "win64: configure and build ($win64_build)"
  cmake --preset win64 -B "$win64_build" -DHOST_BUILD_DIR="$repo/$host_build" >/dev/null
  cmake --build "$win64_build" -j "$jobs"

  step "win64: static checks and tests under 64-bit Wine"
  run_ctest "win64:" "$win64_build/ctest.log" --test-dir "$win64_build" --timeout 300
fi

# The shipped programs and the tool must come out the same from any checkout: two builds
# from two copies of HEAD in different folders, compared byte for byte.
step "reproducible: setup.exe, UnInst.exe and talven-pack built twice (bash scripts/reproducible.sh)"
if bash scripts/reproducible.sh "$repo/build/reproducible" 2>&1 | tee build/reproducible.log; then
  summary+=("reproducible: $(grep -c '^same ' build/reproducible.log) programs the same in two builds")
else
  status=1
  summary+=("reproducible: FAILED: $(grep -E '^DIFFERENT' build/reproducible.log | tr '\n' ' ')")
fi

echo
echo "=== summary ($(( $(date +%s) - start )) s) ==="
echo "$wine_line"
printf '%s\n' "${summary[@]}"
for log in "${logs[@]}"; do
  sed -n '/^The following tests FAILED:/,/^Errors while running/p' "$log" | grep -v '^Errors while' || true
done
exit $status
