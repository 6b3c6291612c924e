#!/usr/bin/env bash
# tests/bench/extract_dialog_bench.sh [WIN32_BUILD]: the installer's full pass under Wine
# with its two-bar dialog against the same pass without one, on a generated package
# (E1_BENCH_FILES files, E1_BENCH_MB MiB; 1000 and 30 by default). A measurement, not a
# test: it prints both times and the ratio, the dialog's fixed open and close apart.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$repo/build/win32}
[ -f "$build/win_tests.exe" ] || { echo "extract_dialog_bench.sh: build $build first" >&2; exit 1; }
rig="$repo/scripts/wine-rig.sh"
bash "$rig" start "$build" >/dev/null
trap 'bash "$rig" stop "$build" >/dev/null' EXIT
bash "$rig" run "$build" wine "$build/win_tests.exe" --gtest_also_run_disabled_tests \
  --gtest_filter='ExtractFullPass.DISABLED_BenchmarkDialogAgainstNone' | tr -d '\r' |
  grep -E '^(package|best|dialog|naive|per call)'
