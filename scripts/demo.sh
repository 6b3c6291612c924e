#!/usr/bin/env bash
# The main job: build the installer and the packer, pack examples/sample-game into an
# install package, append it to setup.exe, and run that setup.exe under Wine in a
# virtual display while the UI driver follows examples/sample-game/demo.drv.
# Screenshots (PNG) and the driver's report land in build/demo/.
# Where 32-bit programs run this is the shipped i686 setup.exe in a 32-bit prefix; where
# they cannot, the x86_64 build of the same sources under 64-bit Wine (see scripts/test.sh).
#   JOBS=N bash scripts/demo.sh       build with N jobs (default 2)
#   TALVEN_WINE=win64 bash scripts/demo.sh    the fallback on a host that could run 32-bit
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
jobs=${JOBS:-2}
host_build=build/host
kind=$(bash scripts/wine-rig.sh kind)
win_build=build/$kind
demo=$repo/build/demo
sample=$repo/examples/sample-game
scenario=$sample/demo.drv

bash scripts/setup-deps.sh

[ -f "$sample/build.sh" ] ||
  { echo "demo: examples/sample-game/build.sh is missing: the sample game is not in this tree yet" >&2; exit 1; }
[ -f "$scenario" ] || { echo "demo: the scenario $scenario is missing" >&2; exit 1; }

echo "=== Wine: $(bash scripts/wine-rig.sh describe "$kind")"
echo "=== building talven-pack ($host_build) and setup.exe ($win_build)"
cmake --preset host -B "$host_build" >/dev/null
cmake --build "$host_build" -j "$jobs" --target talven-pack
cmake --preset "$kind" -B "$win_build" -DHOST_BUILD_DIR="$repo/$host_build" >/dev/null
cmake --build "$win_build" -j "$jobs" --target setup uidriver UnInst
pack=$repo/$host_build/talven-pack

echo "=== packing the sample game"
mkdir -p "$demo"
bash "$sample/build.sh" "$demo" "$pack" "$repo/$win_build/UnInst.exe"
"$pack" verify "$demo/instdat.arc"

# The rig of the demo: its own prefix under build/demo, kept between runs.
rig() { bash scripts/wine-rig.sh "$@"; }
# A prefix of another kind from an earlier run is made anew by the rig.
rig start "$demo" "$kind"
trap 'rig stop "$demo" >/dev/null' EXIT
# shellcheck disable=SC1091
. "$demo/rig.env"

# The medium: setup.exe with the package appended, as it ships.
media=$WINEPREFIX/drive_c/demo-media
rm -rf "$media"
mkdir -p "$media"
"$pack" append "$repo/$win_build/setup.exe" "$demo/instdat.arc" "$media/setup.exe"

shots=$demo/shots
rm -rf "$shots"
mkdir -p "$shots"
export DEMO_SETUP
export DEMO_MEDIA
export DEMO_SHOTS
DEMO_SETUP=$(winepath -w "$media/setup.exe" | tr -d '\r')
DEMO_MEDIA=$(winepath -w "$media" | tr -d '\r')
DEMO_SHOTS=$(winepath -w "$shots" | tr -d '\r')

echo "=== running $DEMO_SETUP under Wine on display $DISPLAY with the scenario examples/sample-game/demo.drv"
status=0
# The driver runs in the screenshot folder, so "screenshot NAME.bmp" lands there.
(cd "$shots" && wine "$repo/$win_build/uidriver.exe" "$(winepath -w "$scenario" | tr -d '\r')") \
  2>&1 | tr -d '\r' | tee "$demo/demo.log" || status=$?
[ "${PIPESTATUS[0]:-0}" -eq 0 ] || status=1
grep -q '^OK: ' "$demo/demo.log" || status=1

for bmp in "$shots"/*.bmp; do
  [ -f "$bmp" ] || continue
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done

echo
echo "=== demo results ($(bash scripts/wine-rig.sh describe "$kind"))"
echo "driver report: build/demo/demo.log"
echo "screenshots:"
ls -1 "$shots"/*.png 2>/dev/null | sed "s|^$repo/|  |" || echo "  (none)"
if [ $status -ne 0 ]; then
  echo "demo: the scenario failed (see build/demo/demo.log)" >&2
  exit 1
fi
