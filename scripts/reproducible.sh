#!/usr/bin/env bash
# Builds setup.exe, UnInst.exe and talven-pack twice, from two copies of the committed
# tree in different folders, one after the other, and compares them byte for byte.
# Prints each program's SHA-256 from both builds and the time taken; exit 1 on a
# difference. Needs what scripts/setup-deps.sh installs. ccache is bypassed: a cached
# object would hide a difference.
#   bash scripts/reproducible.sh [WORK_DIR]   (default: a fresh folder under /tmp)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$(mktemp -d /tmp/talven-repro-XXXXXX)}
mkdir -p "$work"
jobs=${JOBS:-2}
export CCACHE_DISABLE=1
unset CMAKE_CXX_COMPILER_LAUNCHER CMAKE_C_COMPILER_LAUNCHER
# Where a tool wants a time, it takes the last commit's.
SOURCE_DATE_EPOCH=$(git -C "$repo" log -1 --format=%ct)
export SOURCE_DATE_EPOCH

start=$(date +%s)
build() {  # build FOLDER: a copy of HEAD in FOLDER, its tool and its Windows programs
  local tree=$1
  rm -rf "$tree"
  mkdir -p "$tree"
  git -C "$repo" archive HEAD | tar -x -C "$tree"
  (cd "$tree" && cmake --preset host) >"$tree.log" 2>&1
  cmake --build "$tree/build/host" -j"$jobs" --target talven-pack >>"$tree.log" 2>&1
  (cd "$tree" && cmake --preset win32) >>"$tree.log" 2>&1
  cmake --build "$tree/build/win32" -j"$jobs" --target setup UnInst >>"$tree.log" 2>&1
}
build "$work/first"
sleep 2  # a build time that leaked in would now differ by at least a second
build "$work/second-copy/in/another/folder"
elapsed=$(( $(date +%s) - start ))

status=0
for program in build/win32/setup.exe build/win32/UnInst.exe build/host/talven-pack; do
  a=$(sha256sum <"$work/first/$program" | cut -d' ' -f1)
  b=$(sha256sum <"$work/second-copy/in/another/folder/$program" | cut -d' ' -f1)
  if [ "$a" = "$b" ]; then
    echo "same      $a  $program"
  else
    echo "DIFFERENT $a / $b  $program"
    status=1
  fi
done
echo "two builds in ${elapsed} s (-j$jobs); folders in $work"
exit $status
