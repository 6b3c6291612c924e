#!/usr/bin/env bash
# tests/bench/install_bench.sh [WIN32_BUILD]: a whole install of the same generated game by
# setup.exe (FORCEINSTALL, its dialogs on screen and answered as they appear) against an
# NSIS installer of it (zlib, silent) and against xcopy, under Wine in one prefix with the
# rig's window manager running. Runs interleave (the order turns every run); it prints the
# medians and the ratios setup.exe/NSIS and setup.exe/xcopy of wall and CPU time. CPU is
# every process the installer starts plus what wineserver spent meanwhile.
#   BENCH_RUNS (5)       runs per installer and data set
#   BENCH_MEDIA_MB (64)  the big set's incompressible media
# A measurement, not a test; needs makensis (nsis) and the host build's talven-pack.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$repo/build/win32}" && pwd)
runs=${BENCH_RUNS:-5}
media_mb=${BENCH_MEDIA_MB:-64}
tool="python3 $repo/tests/bench/install_bench_tool.py"
talven_pack=${TALVEN_PACK:-$repo/build/host/talven-pack}
for f in "$build/setup.exe" "$build/UnInst.exe" "$build/uidriver.exe" "$talven_pack"; do
  [ -f "$f" ] || { echo "install_bench.sh: $f is missing: build the host and win32 presets" >&2; exit 1; }
done
command -v makensis >/dev/null || { echo "install_bench.sh: makensis is missing (apt-get install nsis)" >&2; exit 1; }

rig="$repo/scripts/wine-rig.sh"
bash "$rig" start "$build" >/dev/null
trap 'bash "$rig" stop "$build" >/dev/null' EXIT
# shellcheck disable=SC1091
. "$build/rig.env"
work=$WINEPREFIX/drive_c/bench
rm -rf "$work"
mkdir -p "$work/out"
wine_work='C:\bench'

# The prefix's wineserver: its processor time counts for every installer alike.
server_pid=
for p in /proc/[0-9]*; do
  case $(cat "$p/comm" 2>/dev/null) in wineserver*) ;; *) continue ;; esac
  if tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then server_pid=${p#/proc/}; fi
done
[ -n "$server_pid" ] || { echo "install_bench.sh: the rig's wineserver is not found" >&2; exit 1; }

# One game folder per set, its medium and its NSIS installer.
make_set() {
  local set=$1 game=$work/$1/game
  $tool game "$game" "$set" "$media_mb"
  printf 'TITLEBAR\tBench %s\r\nINSTTO\tBench_%s\r\nEXENAME\tgame.exe\r\nFORCEINSTALL\t1\r\n' "$set" "$set" \
    >"$game/install.env"
  printf 'readme\r\n' >"$game/readme.txt"
  printf 'game program stand-in\r\n' >"$game/game.exe"
  convert -size 320x200 gradient:'#203050-#8090c0' "PNG24:$work/$set/picture.png"
  "$talven_pack" rct encode "$work/$set/picture.png" "$game/insttscr.rct" >/dev/null
  "$talven_pack" medium -q --setup "$build/setup.exe" --uninst "$build/UnInst.exe" "$game" "$work/$set/medium" \
    >"$work/$set/medium.log"
  # What a usual NSIS game installer does beside the files: the same three Start-menu
  # shortcuts, an uninstaller and its uninstall entry.
  cat >"$work/$set/bench.nsi" <<NSI
Unicode true
SetCompressor zlib
Name "Bench $set"
OutFile "nsis.exe"
InstallDir "C:\\bench\\out\\nsis"
RequestExecutionLevel admin
SilentInstall silent
Section
  SetOutPath "\$INSTDIR"
  File /r "game\\*.*"
  WriteUninstaller "\$INSTDIR\\uninst.exe"
  WriteRegStr HKLM "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Bench_$set" "DisplayName" "Bench $set"
  WriteRegStr HKLM "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Bench_$set" "UninstallString" "\$INSTDIR\\uninst.exe"
  CreateDirectory "\$SMPROGRAMS\\Bench $set"
  CreateShortCut "\$SMPROGRAMS\\Bench $set\\Bench.lnk" "\$INSTDIR\\game.exe"
  CreateShortCut "\$SMPROGRAMS\\Bench $set\\readme.lnk" "\$INSTDIR\\readme.txt"
  CreateShortCut "\$SMPROGRAMS\\Bench $set\\uninstall.lnk" "\$INSTDIR\\uninst.exe"
SectionEnd
Section "Uninstall"
  RMDir /r "\$INSTDIR"
SectionEnd
NSI
  (cd "$work/$set" && makensis -V1 bench.nsi)
}

# The setup.exe run: started directly and measured; a driver, ready before it starts,
# answers its dialogs (folder, confirmation, desktop shortcut: no, end dialog) as they
# appear. The driver looks every 20 ms: often enough to answer at once, seldom enough not
# to load the wineserver that is measured with setup.exe.
run_setup() {
  # The folder unquoted: inside quotes the driver reads a backslash as an escape.
  local set=$1 dest=$2 result=$3 log=$work/driver.log
  wine "$build/uidriver.exe" - >"$log" 2>&1 <<EOS &
poll 20
attach setup.exe 60
wait-window class:#32770 "インストール先のフォルダの指定" 30
set-text 1000 $dest
click 1
wait-window class:#32770 "" with:65535 20
click 6
wait-window class:#32770 "ショートカットの作成" 120
click 2
wait-window class:#32770 "インストール終了" 30
click 1
EOS
  local driver=$!
  for _ in $(seq 600); do grep -q '^\[2\] attach' "$log" 2>/dev/null && break; sleep 0.05; done
  (cd "$work/$set/medium" && $tool measure "$result" "$server_pid" wine setup.exe) ||
    { echo "install_bench.sh: setup.exe failed" >&2; tr -d '\r' <"$log" >&2; exit 1; }
  wait "$driver" || { echo "install_bench.sh: the driver failed" >&2; tr -d '\r' <"$log" >&2; exit 1; }
}

one_run() {
  local set=$1 who=$2 n=$3 result
  result=$work/out/$set.$who.$n
  rm -rf "$work/out/$who"
  case $who in
    setup) run_setup "$set" "$wine_work\\out\\setup" "$result" ;;
    nsis) (cd "$work/$set" && $tool measure "$result" "$server_pid" wine nsis.exe /S "/D=$wine_work\\out\\nsis") ;;
    xcopy) $tool measure "$result" "$server_pid" wine xcopy /E /I /Q /Y /K "$wine_work\\$set\\game" \
      "$wine_work\\out\\xcopy" >/dev/null ;;
  esac
  cat "$result" >>"$work/out/$set.$who"
  rm -rf "$work/out/$who"
}

for set in big small; do make_set "$set"; done
echo "data sets: big $(du -sm "$work/big/game" | cut -f1) MB in $(find "$work/big/game" -type f | wc -l) files," \
  "small $(du -sm "$work/small/game" | cut -f1) MB in $(find "$work/small/game" -type f | wc -l) files;" \
  "$runs runs each, medians (wall s / CPU s)"
for set in big small; do
  one_run "$set" setup 0; one_run "$set" nsis 0; one_run "$set" xcopy 0  # warm-up, not counted
  rm -f "$work/out/$set.setup" "$work/out/$set.nsis" "$work/out/$set.xcopy"
  for n in $(seq "$runs"); do
    if [ $((n % 2)) -eq 1 ]; then order="setup nsis xcopy"; else order="xcopy nsis setup"; fi
    for who in $order; do one_run "$set" "$who" "$n"; done
  done
  (cd "$work/out" && $tool median "$set.setup" "$set.nsis" "$set.xcopy") >"$work/out/$set.medians"
  awk '{ printf "       %-12s CPU by process:", $1; for (i = 5; i <= NF; i++) printf " %s", $i; print "" }' \
    "$work/out/$set.medians"
  awk -v set="$set" '
    { wall[$1] = $2; cpu[$1] = $3 }
    END {
      s = set ".setup"; n = set ".nsis"; x = set ".xcopy"
      printf "%-6s setup.exe %.2f / %.2f   NSIS %.2f / %.2f   xcopy %.2f / %.2f\n", set, wall[s], cpu[s], wall[n], cpu[n], wall[x], cpu[x]
      printf "%-6s setup.exe/NSIS wall %.2f CPU %.2f   setup.exe/xcopy wall %.2f CPU %.2f\n", set, wall[s] / wall[n], cpu[s] / cpu[n], wall[s] / wall[x], cpu[s] / cpu[x]
    }' "$work/out/$set.medians"
done
