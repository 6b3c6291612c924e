#!/usr/bin/env bash
# Builds the libFuzzer harnesses of tests/fuzz (preset fuzz: clang-14, ASan, UBSan) and runs
# each for a given time, seeded from tests/fuzz/corpus/NAME (and its dictionary
# tests/fuzz/NAME.dict when there is one).
#   bash scripts/fuzz.sh smoke              about 20 s each: the test command's smoke run
#   bash scripts/fuzz.sh 600                10 minutes each
#   bash scripts/fuzz.sh 600 fuzz_mounts    only the named harnesses
#   JOBS=N        harnesses run side by side (default 2); each fuzzes on one core
#   FUZZ_BUILD=dir  build folder (default build/fuzz)
# Prints the executions of each harness. A crash, a check that fails, a leak, a timeout
# or an out-of-memory stops that harness; the input is kept as
# FUZZ_BUILD/findings/NAME/crash-* (or leak-, timeout-, oom-) and the script exits 1.
# New inputs that reach new code collect in FUZZ_BUILD/corpus/NAME (not in the tree);
# replay one input with: FUZZ_BUILD/NAME INPUT
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-smoke}
[ "$seconds" = smoke ] && seconds=20
case $seconds in ''|*[!0-9]*) echo "usage: fuzz.sh smoke|SECONDS [HARNESS...]" >&2; exit 2;; esac
shift || true
build=${FUZZ_BUILD:-build/fuzz}
jobs=${JOBS:-2}

cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" -j "$jobs" --target fuzz_harnesses

if [ $# -gt 0 ]; then
  harnesses=("$@")
else
  harnesses=()
  for src in tests/fuzz/fuzz_*.cpp; do harnesses+=("$(basename "$src" .cpp)"); done
fi

# One harness: runs it, writes its summary line to $build/findings/NAME.result.
run_one() {
  local name=$1 exe=$build/$1 found=$build/findings/$1
  local seeds=tests/fuzz/corpus/$name corpus=$build/corpus/$name log=$build/findings/$name.log
  mkdir -p "$found" "$corpus"
  rm -f "$found"/crash-* "$found"/leak-* "$found"/timeout-* "$found"/oom-*
  local args=(-max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048
              -artifact_prefix="$found/")
  [ -f "tests/fuzz/$name.dict" ] && args+=(-dict="tests/fuzz/$name.dict")
  local dirs=("$corpus")
  [ -d "$seeds" ] && dirs+=("$seeds")
  local status=0
  "$exe" "${args[@]}" "${dirs[@]}" >"$log" 2>&1 || status=$?
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  local finding
  finding=$(ls "$found" 2>/dev/null | head -n 1 || true)
  if [ "$status" -ne 0 ] || [ -n "$finding" ]; then
    printf '%-22s FAILED after %s runs: %s (log %s)\n' "$name" "${runs:-?}" \
      "${finding:+$found/$finding}" "$log" >"$build/findings/$name.result"
  else
    printf '%-22s %12s runs in %s s\n' "$name" "${runs:-?}" "$seconds" >"$build/findings/$name.result"
  fi
}

mkdir -p "$build/findings"
running=0
for name in "${harnesses[@]}"; do
  [ -x "$build/$name" ] || { echo "fuzz.sh: no harness $build/$name" >&2; exit 2; }
  rm -f "$build/findings/$name.result"
  run_one "$name" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then wait -n || true; running=$((running - 1)); fi
done
wait

status=0
echo
echo "=== fuzzing, $seconds s each ==="
for name in "${harnesses[@]}"; do
  result=$build/findings/$name.result
  if [ -f "$result" ]; then cat "$result"; else echo "$name: no result"; status=1; fi
  grep -q FAILED "$result" 2>/dev/null && status=1
done
exit $status
