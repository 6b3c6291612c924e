#!/usr/bin/env bash
# docs/screenshots.sh WIN32_BUILD TALVEN_PACK
#
# Remakes docs/menu.png and docs/extract.png: the sample game's menu and its extraction
# dialog under Wine. Runs inside the Wine rig of the build folder:
#
#   scripts/wine-rig.sh start build/win32
#   scripts/wine-rig.sh run build/win32 bash docs/screenshots.sh build/win32 build/host/talven-pack
#
# The driver runs inside a Wine virtual desktop, which draws the window frames and
# captions itself and keeps the shots' size fixed. For the
# extraction shot the sample package gets many small extra files, so that the two-bar
# dialog stays up long enough to be caught; the install then runs to its end.
set -euo pipefail

[ $# -eq 2 ] || { echo "usage: docs/screenshots.sh WIN32_BUILD TALVEN_PACK" >&2; exit 2; }
build=$(cd "$1" && pwd)
pack=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
repo=$(cd "$(dirname "$0")/.." && pwd)
E2E_IDS=$build/e2e_ids.sh
. "$repo/tests/e2e/scenarios.sh"
[ -n "${WINEPREFIX:-}" ] && [ -n "${DISPLAY:-}" ] || { echo "screenshots.sh: run it through scripts/wine-rig.sh run" >&2; exit 1; }
for f in "$build/setup.exe" "$build/uidriver.exe" "$pack"; do
  [ -f "$f" ] || { echo "screenshots.sh: missing $f" >&2; exit 1; }
done

work=$build/docs-screenshots
rm -rf "$work"
mkdir -p "$work"
bash "$repo/examples/sample-game/build.sh" "$work" "$pack" >"$work/build.log"
voices="$work/sample-game/データ/音声/千代"
for i in $(seq 1 1500); do
  printf 'voice %d\r\n' "$i" >"$voices/ch02_$(printf %04d "$i").dat"
done
"$pack" pack "$work/sample-game" "$work/instdat.arc" >>"$work/build.log"

medium=$WINEPREFIX/drive_c/talven-docs
rm -rf "$medium"
mkdir -p "$medium"
cp "$build/setup.exe" "$build/uidriver.exe" "$medium/"
cp "$work/instdat.arc" "$medium/"
medium_win=$(winepath -w "$medium" 2>/dev/null | tr -d '\r' | tail -n 1)

caption="月影の譜 サンプルゲーム スタートアップ"
cat >"$medium/shots.drv" <<EOS
timeout 60
start $medium_win\\setup.exe
wait-window class:#32770 "$caption"
sleep 1500
screenshot $medium_win\\menu.bmp
click $IDC_MENU_BUTTON3
wait-window インストール先のフォルダの指定
set-text $IDC_PATH_EDIT $medium_win\\installed
click 1
wait-gone
wait-window class:#32770 "$caption" with:$BOX_TEXT 30
wait-text $BOX_TEXT [$medium_win\\installed]にインストールします
click 6
wait-window ファイルのコピー中...
sleep 700
screenshot $medium_win\\extract.bmp
$(install_end_lines "check $IDC_CHECK 0;click 1" "check $IDC_CHECK 0")
EOS
wine explorer /desktop=talvendocs,800x600 "$medium_win\\uidriver.exe" "$medium_win\\shots.drv" \
  >"$work/driver.log" 2>&1 || { tr -d '\r' <"$work/driver.log"; echo "screenshots.sh: the scenario failed" >&2; exit 1; }

# Cut the desktop around the windows (its plain colour is trimmed) and keep the PNGs small.
for shot in menu extract; do
  convert "$medium/$shot.bmp" -fuzz 2% -trim +repage -bordercolor '#3a6ea5' -border 6 \
    -strip -colors 256 "PNG8:$repo/docs/$shot.png"
  echo "docs/$shot.png: $(identify -format '%wx%h' "$repo/docs/$shot.png"), $(stat -c %s "$repo/docs/$shot.png") bytes"
done
rm -rf "$medium"
