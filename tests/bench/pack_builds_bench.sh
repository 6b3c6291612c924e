#!/usr/bin/env bash
# pack_builds_bench.sh [HOST_BUILD] [WIN_BUILD]: what the Windows build's zlib costs against
# the Linux tool's libdeflate. Packs the sample game and a generated set (scenario text,
# pictures-like data, incompressible sound) with talven-pack (libdeflate), talven-pack-zlib
# (the Windows build's compressor, natively) and, where a rig is up or can be, talven-pack.exe
# under Wine; prints each package's size and wall time as ratios to the libdeflate run
# (best of 3).
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
host=${1:-$repo/build/host} win=${2:-$repo/build/win32}
work=$(mktemp -d /tmp/pack-builds-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT

bash "$repo/examples/sample-game/build.sh" "$work/s" "$host/talven-pack" >/dev/null
gen=$work/generated
mkdir -p "$gen/scenario" "$gen/cg" "$gen/bgm"
for i in $(seq 1 40); do
  awk -v n="$i" 'BEGIN { for (l = 0; l < 20000; l++) printf "%d: line %d of scene %d, said again and again\r\n", l % 97, l, n }' \
    >"$gen/scenario/s$i.scn"
done
for i in 1 2 3 4; do
  convert -seed "$i" -size 800x600 plasma:'#203060-#d0c080' -type TrueColor "BMP3:$gen/cg/c$i.bmp"
done
for i in 1 2 3; do head -c $((3 << 20)) /dev/urandom >"$gen/bgm/b$i.ogg"; done
printf 'TITLEBAR\tbench\r\nEXENAME\tx.exe\r\n' >"$gen/install.env"

best_time() {  # best_time OUT CMD...: best wall seconds of 3 runs
  local out=$1 best= t s e
  shift
  for _ in 1 2 3; do
    rm -f "$out"
    s=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    e=$(date +%s.%N)
    t=$(echo "$e - $s" | bc)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc)" = 1 ]; then best=$t; fi
  done
  echo "$best"
}

exe_runner=
if [ -f "$win/talven-pack.exe" ] && bash "$repo/scripts/wine-rig.sh" status "$win" >/dev/null 2>&1; then
  exe_runner="bash $repo/scripts/wine-rig.sh run $win wine $win/talven-pack.exe"
fi

for set in sample generated; do
  if [ "$set" = sample ]; then dir=$work/s/sample-game; else dir=$gen; fi
  base_t=$(best_time "$work/a.arc" "$host/talven-pack" pack --no-check -q "$dir" "$work/a.arc")
  base_s=$(stat -c %s "$work/a.arc")
  echo "$set: libdeflate level 8: $base_s bytes, ${base_t}s"
  z_t=$(best_time "$work/b.arc" "$host/talven-pack-zlib" pack --no-check -q "$dir" "$work/b.arc")
  z_s=$(stat -c %s "$work/b.arc")
  printf '%s: zlib (Windows build compressor, native): size ratio %.3f, time ratio %.2f\n' "$set" \
    "$(echo "$z_s / $base_s" | bc -l)" "$(echo "$z_t / $base_t" | bc -l)"
  if [ -n "$exe_runner" ]; then
    # shellcheck disable=SC2086
    w_t=$(best_time "$work/c.arc" $exe_runner pack --no-check -q "$dir" "$work/c.arc")
    cmp -s "$work/b.arc" "$work/c.arc" && same=same || same=DIFFERENT
    printf '%s: talven-pack.exe under Wine: time ratio %.2f (package %s as zlib native)\n' "$set" \
      "$(echo "$w_t / $base_t" | bc -l)" "$same"
  fi
done
