#!/usr/bin/env bash
# tests/bench/install_bench.sh [WIN32_BUILD]: a whole install of the same generated game by
# setup.exe (FORCEINSTALL, its dialogs on screen and answered as they appear) against an
# NSIS installer of it (zlib, silent; and with the same questions on its pages) and
# against xcopy, under Wine in one prefix with the rig's window manager running. Runs interleave (the order turns every run); it prints the
# medians and the ratios setup.exe/NSIS and setup.exe/xcopy of wall and CPU time. CPU is
# every process the installer starts plus what wineserver spent meanwhile.
#   BENCH_RUNS (5)       runs per installer and data set
#   BENCH_MEDIA_MB (64)  the big set's incompressible media
#   BENCH_NSIS_PAGES (1) also NSIS with setup.exe's questions on its pages, answered by
#                        the same driver (0: leave it out)
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
  # shortcuts, an uninstaller and its uninstall entry. Built twice: silent, and with the
  # questions setup.exe asks (folder, confirmation, desktop shortcut, end) on its own pages.
  nsis_script silent >"$work/$set/bench.nsi"
  nsis_script pages >"$work/$set/bench-ui.nsi"
  (cd "$work/$set" && makensis -V1 bench.nsi && makensis -V1 bench-ui.nsi)
}

# nsis_script silent|pages: the NSIS installer of $set (a variable of make_set).
nsis_script() {
  local out=nsis.exe
  [ "$1" = pages ] && out=nsis-ui.exe
  cat <<NSI
Unicode true
SetCompressor zlib
Name "Bench $set"
OutFile "$out"
InstallDir "C:\\bench\\out\\nsis"
RequestExecutionLevel admin
NSI
  if [ "$1" = silent ]; then
    echo 'SilentInstall silent'
  else
    cat <<'NSI'
Page directory "" "" dir_leave
Page instfiles
AutoCloseWindow true
Function dir_leave
  MessageBox MB_YESNO "Install into $INSTDIR?" IDYES +2
  Abort
FunctionEnd
Function .onInstSuccess
  MessageBox MB_OK "The game is installed."
FunctionEnd
NSI
  fi
  cat <<NSI
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
NSI
  if [ "$1" = pages ]; then
    cat <<'NSI'
  MessageBox MB_YESNO "A shortcut on the desktop?" IDNO +2
  CreateShortCut "$DESKTOP\Bench.lnk" "$INSTDIR\game.exe"
NSI
  fi
  cat <<'NSI'
SectionEnd
Section "Uninstall"
  RMDir /r "$INSTDIR"
SectionEnd
NSI
}

# An installer with questions: started directly and measured; a driver, ready before it
# starts, answers them as they appear (the folder, yes to the confirmation, no desktop
# shortcut, the end). The driver looks every 10 ms, mostly at the installer's own windows
# (a look costs the server a few requests): an answer comes about as soon as a player's
# click could, without loading the wineserver measured with the installer.
#   run_driven SET RESULT PROGRAM [ARGUMENT] <driver script
run_driven() {
  local set=$1 result=$2 program=$3 log=$work/driver.log dir=$work/$1
  shift 3
  [ "$program" = setup.exe ] && dir=$work/$set/medium
  { echo "poll 10"; echo "attach $program 60"; cat; } >"$work/driver.txt"
  wine "$build/uidriver.exe" - <"$work/driver.txt" >"$log" 2>&1 &
  local driver=$!
  for _ in $(seq 600); do grep -q '^\[2\] attach' "$log" 2>/dev/null && break; sleep 0.05; done
  (cd "$dir" && $tool measure "$result" "$server_pid" wine "$program" "$@") ||
    { echo "install_bench.sh: $program failed" >&2; tr -d '\r' <"$log" >&2; exit 1; }
  wait "$driver" || { echo "install_bench.sh: the driver failed" >&2; tr -d '\r' <"$log" >&2; exit 1; }
}

# The folder unquoted: inside quotes the driver reads a backslash as an escape.
run_setup() {
  run_driven "$1" "$3" setup.exe <<EOS
wait-window class:#32770 "インストール先のフォルダの指定" 30
set-text 1000 $2
click 1
wait-window class:#32770 "" with:65535 20
click 6
wait-window class:#32770 "ショートカットの作成" 120
click 2
wait-window class:#32770 "インストール終了" 30
click 1
EOS
}

# The same questions on NSIS's pages; its boxes share one caption, so each answer waits
# for its box to go before the next is looked for.
run_nsis_pages() {
  local caption="Bench $1 Setup"
  run_driven "$1" "$3" nsis-ui.exe "/D=$2" <<EOS
wait-window class:#32770 "$caption: Installation Folder" 30
click 1
wait-window class:#32770 "$caption" with:65535 20
click 6
wait-gone 10
wait-window class:#32770 "$caption" with:65535 300
click 7
wait-gone 10
wait-window class:#32770 "$caption" with:65535 30
click 1
EOS
}

# Every run installs into a folder of its own, all removed at the end: on a disk without a
# journal, files made soon after many were deleted cost the kernel a walk past each freed
# inode, by an amount that moves from run to run and would fall on whichever installer
# came next.
one_run() {
  local set=$1 who=$2 n=$3 result to
  result=$work/out/$set.$who.$n
  to="$wine_work\\out\\$set.$who.$n.files"
  case $who in
    setup) run_setup "$set" "$to" "$result" ;;
    nsis) (cd "$work/$set" && $tool measure "$result" "$server_pid" wine nsis.exe /S "/D=$to") ;;
    nsis-ui) run_nsis_pages "$set" "$to" "$result" ;;
    xcopy) $tool measure "$result" "$server_pid" wine xcopy /E /I /Q /Y /K "$wine_work\\$set\\game" "$to" >/dev/null ;;
  esac
  cat "$result" >>"$work/out/$set.$who"
}

installers="setup nsis xcopy"
[ "${BENCH_NSIS_PAGES:-1}" = 1 ] && installers="$installers nsis-ui"
for set in big small; do make_set "$set"; done
echo "data sets: big $(du -sm "$work/big/game" | cut -f1) MB in $(find "$work/big/game" -type f | wc -l) files," \
  "small $(du -sm "$work/small/game" | cut -f1) MB in $(find "$work/small/game" -type f | wc -l) files;" \
  "$runs runs each, medians (wall s / CPU s)"
for set in big small; do
  for who in $installers; do
    one_run "$set" "$who" 0  # warm-up, not counted
    rm -f "$work/out/$set.$who"
  done
  for n in $(seq "$runs"); do
    order=$installers
    [ $((n % 2)) -eq 0 ] && order=$(echo "$installers" | tr ' ' '\n' | tac | tr '\n' ' ')
    for who in $order; do one_run "$set" "$who" "$n"; done
  done
  (cd "$work/out" && $tool median $(for who in $installers; do echo "$set.$who"; done)) >"$work/out/$set.medians"
  awk '{ printf "       %-12s CPU by process:", $1; for (i = 5; i <= NF; i++) printf " %s", $i; print "" }' \
    "$work/out/$set.medians"
  awk -v set="$set" '
    { wall[$1] = $2; cpu[$1] = $3 }
    END {
      s = set ".setup"; n = set ".nsis"; x = set ".xcopy"; u = set ".nsis-ui"
      printf "%-6s setup.exe %.2f / %.2f   NSIS %.2f / %.2f   xcopy %.2f / %.2f\n", set, wall[s], cpu[s], wall[n], cpu[n], wall[x], cpu[x]
      printf "%-6s setup.exe/NSIS wall %.2f CPU %.2f   setup.exe/xcopy wall %.2f CPU %.2f\n", set, wall[s] / wall[n], cpu[s] / cpu[n], wall[s] / wall[x], cpu[s] / cpu[x]
      if (u in wall)
        printf "%-6s NSIS with the same questions %.2f / %.2f   setup.exe/it wall %.2f CPU %.2f\n", set, wall[u], cpu[u], wall[s] / wall[u], cpu[s] / cpu[u]
    }' "$work/out/$set.medians"
done
rm -rf "$work"/out/*.files
