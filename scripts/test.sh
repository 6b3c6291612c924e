#!/usr/bin/env bash
# Runs every test: the host unit tests, then the Windows-side tests and the end-to-end
# tests under Wine (the rig fixture starts and stops its own prefix and display).
#   bash scripts/test.sh              everything
#   JOBS=N bash scripts/test.sh       build with N jobs (default 2)
#   HOST_BUILD=dir WIN_BUILD=dir      other build folders (defaults build/host, build/win32)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
jobs=${JOBS:-2}
host_build=${HOST_BUILD:-build/host}
win_build=${WIN_BUILD:-build/win32}

bash scripts/setup-deps.sh

start=$(date +%s)
status=0
summary=()

step() { echo; echo "=== $* ==="; }

step "host: configure and build ($host_build)"
cmake --preset host -B "$host_build" >/dev/null
cmake --build "$host_build" -j "$jobs"

step "host: tests"
if ctest --test-dir "$host_build" --output-on-failure -j "$jobs" 2>&1 | tee "$host_build/ctest.log"; then
  summary+=("host:  $(grep -E 'tests passed' "$host_build/ctest.log" | tail -n 1)")
else
  status=1
  summary+=("host:  FAILED: $(grep -E 'tests passed' "$host_build/ctest.log" | tail -n 1)")
fi

step "win32: configure and build ($win_build)"
cmake --preset win32 -B "$win_build" -DHOST_BUILD_DIR="$repo/$host_build" >/dev/null
cmake --build "$win_build" -j "$jobs"

step "win32: tests under Wine"
# The Wine tests hold one lock, so they run one at a time whatever -j says.
if ctest --test-dir "$win_build" --output-on-failure --timeout 300 2>&1 | tee "$win_build/ctest.log"; then
  summary+=("win32: $(grep -E 'tests passed' "$win_build/ctest.log" | tail -n 1)")
else
  status=1
  summary+=("win32: FAILED: $(grep -E 'tests passed' "$win_build/ctest.log" | tail -n 1)")
fi

echo
echo "=== summary ($(( $(date +%s) - start )) s) ==="
printf '%s\n' "${summary[@]}"
for log in "$host_build/ctest.log" "$win_build/ctest.log"; do
  sed -n '/^The following tests FAILED:/,/^Errors while running/p' "$log" | grep -v '^Errors while' || true
done
exit $status
