#!/usr/bin/env bash
# The Wine test rig: one private 32-bit prefix and one virtual display per build folder.
#
#   wine-rig.sh start DIR      make DIR/prefix once (wineboot), start Xvfb on a free display,
#                              write the environment and the pids into DIR/rig.env
#   wine-rig.sh stop DIR       stop what start started (by pid) and this prefix's wineserver
#   wine-rig.sh run DIR CMD..  run CMD with the rig's environment (DISPLAY, WINEPREFIX, ...)
#   wine-rig.sh status DIR     print the rig's environment, exit 1 when it is not running
#
# rig.env exports: WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES LC_ALL LANG DISPLAY
#                  RIG_DIR RIG_XVFB_PID RIG_TEMP_WIN (the prefix's %TEMP%) RIG_TEMP (its Unix path)
# Nothing here looks at processes it did not start: no pkill, no killall.
set -euo pipefail

die() { echo "wine-rig: $*" >&2; exit 1; }

[ $# -ge 2 ] || die "usage: wine-rig.sh start|stop|run|status DIR [CMD...]"
action=$1
dir=$(mkdir -p "$2" && cd "$2" && pwd)
shift 2
env_file=$dir/rig.env
prefix=$dir/prefix

base_env() {
  export WINEPREFIX=$prefix
  export WINEARCH=win32
  export WINEDEBUG=-all
  # No Mono/Gecko download prompts and no menu/desktop entries written into $HOME.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  # ANSI code page 932 comes from the Japanese locale.
  export LC_ALL=ja_JP.UTF-8
  export LANG=ja_JP.UTF-8
}

xvfb_alive() {
  local pid=$1
  [ -n "$pid" ] && [ -r "/proc/$pid/cmdline" ] && tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q '^Xvfb '
}

load_env() {
  [ -f "$env_file" ] || return 1
  # shellcheck disable=SC1090
  . "$env_file"
  xvfb_alive "${RIG_XVFB_PID:-}"
}

start_xvfb() {
  # Start near a number derived from the folder so that parallel rigs rarely collide;
  # a number whose socket or lock exists is taken, and Xvfb failing to bind moves on too.
  local n=$(( 100 + $(printf '%s' "$dir" | cksum | cut -d' ' -f1) % 400 ))
  local tries=0 log=$dir/xvfb.log
  while [ $tries -lt 60 ]; do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -noreset >"$log" 2>&1 &
      local pid=$!
      local waited=0
      while [ $waited -lt 100 ]; do
        if ! kill -0 "$pid" 2>/dev/null; then break; fi
        if [ -S "/tmp/.X11-unix/X$n" ] && xdpyinfo -display ":$n" >/dev/null 2>&1; then
          RIG_XVFB_PID=$pid
          DISPLAY=":$n"
          return 0
        fi
        sleep 0.1
        waited=$((waited + 1))
      done
      kill "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
    n=$((n + 1))
    tries=$((tries + 1))
  done
  die "no free X display found (see $log)"
}

init_prefix() {
  # The prefix is made once per build folder and kept; system.reg marks a finished boot.
  if [ ! -f "$prefix/system.reg" ] || [ ! -f "$prefix/.rig-ready" ]; then
    echo "wine-rig: creating the 32-bit prefix $prefix (first boot takes a while)"
    rm -rf "$prefix"
    wineboot -i </dev/null >"$dir/wineboot.log" 2>&1 || die "wineboot failed (see $dir/wineboot.log)"
    wineserver -w
    # No crash dialog: a crashing program prints winedbg's backtrace on stderr and ends at
    # once, and the test sees its exit code.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    wine reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f >/dev/null 2>&1 || true
    # The dialogs ask for the usual Japanese UI fonts; map them onto IPA Gothic.
    local reg=$dir/fonts.reg
    {
      printf 'Windows Registry Editor Version 5.00\r\n\r\n'
      printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n'
      printf '"ＭＳ Ｐゴシック"="IPAPGothic"\r\n'
      printf '"ＭＳ ゴシック"="IPAGothic"\r\n'
      printf '"MS PGothic"="IPAPGothic"\r\n'
      printf '"MS Gothic"="IPAGothic"\r\n'
      printf '"MS UI Gothic"="IPAPGothic"\r\n'
      printf '"MS Shell Dlg"="IPAPGothic"\r\n'
      printf '"MS Shell Dlg 2"="IPAPGothic"\r\n'
      printf '\r\n'
    } | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } >"$reg"
    wine regedit /S "$(winepath -w "$reg")" </dev/null >/dev/null 2>&1 || die "regedit of the font table failed"
    wineserver -w
    touch "$prefix/.rig-ready"
  fi
}

write_env() {
  local temp_win temp_unix
  # Through a file, not a pipe: a Wine service started here must not hold our stdout open.
  wine cmd /c echo %TEMP% </dev/null >"$dir/temp.txt" 2>/dev/null || true
  temp_win=$(tr -d '\r' <"$dir/temp.txt" | tail -n 1)
  [ -n "$temp_win" ] || die "could not read %TEMP% in the prefix"
  winepath -u "$temp_win" </dev/null >"$dir/temp.txt" 2>/dev/null || true
  temp_unix=$(realpath -m "$(tail -n 1 "$dir/temp.txt")")
  mkdir -p "$temp_unix"
  cat >"$env_file" <<ENV
export WINEPREFIX='$WINEPREFIX'
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES='$WINEDLLOVERRIDES'
export LC_ALL=ja_JP.UTF-8
export LANG=ja_JP.UTF-8
export DISPLAY='$DISPLAY'
export RIG_DIR='$dir'
export RIG_XVFB_PID=$RIG_XVFB_PID
export RIG_TEMP_WIN='${temp_win//\'/}'
export RIG_TEMP='${temp_unix//\'/}'
ENV
}

case $action in
  start)
    if load_env; then
      echo "wine-rig: already running on $DISPLAY (Xvfb pid $RIG_XVFB_PID)"
      exit 0
    fi
    rm -f "$env_file"
    base_env
    command -v wine >/dev/null || die "wine is not installed (run scripts/setup-deps.sh)"
    command -v Xvfb >/dev/null || die "Xvfb is not installed (run scripts/setup-deps.sh)"
    start_xvfb
    export DISPLAY
    init_prefix
    # One persistent wineserver for the whole run, instead of one per test.
    wineserver -p </dev/null >/dev/null 2>&1
    write_env
    echo "wine-rig: prefix $WINEPREFIX, display $DISPLAY, Xvfb pid $RIG_XVFB_PID"
    ;;
  stop)
    base_env
    if [ -f "$env_file" ]; then
      # shellcheck disable=SC1090
      . "$env_file"
    fi
    if [ -d "$prefix" ]; then
      WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
      WINEPREFIX=$prefix wineserver -w 2>/dev/null || true
    fi
    if xvfb_alive "${RIG_XVFB_PID:-}"; then
      kill "$RIG_XVFB_PID" 2>/dev/null || true
      for _ in $(seq 50); do kill -0 "$RIG_XVFB_PID" 2>/dev/null || break; sleep 0.1; done
    fi
    rm -f "$env_file"
    echo "wine-rig: stopped"
    ;;
  run)
    [ $# -ge 1 ] || die "run needs a command"
    load_env || die "the rig is not running for $dir (wine-rig.sh start $dir)"
    exec "$@"
    ;;
  status)
    load_env || { echo "wine-rig: not running for $dir"; exit 1; }
    cat "$env_file"
    ;;
  *)
    die "unknown action $action"
    ;;
esac
