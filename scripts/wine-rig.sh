#!/usr/bin/env bash
# The Wine test rig: one private prefix and one virtual display per build folder.
#
#   wine-rig.sh start DIR [KIND]
#                              make DIR/prefix once (wineboot), start Xvfb on a free display
#                              and a window manager (openbox) on it, write the environment
#                              and the pids into DIR/rig.env. KIND:
#                                win32  a 32-bit prefix (default): the shipped i686 programs
#                                wow64  a 64-bit prefix whose 32-bit programs run through the
#                                       32-bit loader, as on a player's 64-bit Windows
#                                win64  a 64-bit prefix and the 64-bit loader for everything
#                                       (wine, wineboot, winepath, reg): the x86_64 build on
#                                       hosts that cannot run 32-bit programs
#   wine-rig.sh kind           which build this host tests: win32 where a 32-bit program
#                              runs, win64 where it cannot; TALVEN_WINE=win32|win64 forces it
#   wine-rig.sh describe KIND  one line saying what that choice tests, for summaries
#   wine-rig.sh stop DIR       stop what start started (by pid) and this prefix's wineserver
#   wine-rig.sh run DIR CMD..  run CMD with the rig's environment (DISPLAY, WINEPREFIX, ...)
#   wine-rig.sh status DIR     print the rig's environment, exit 1 when it is not running
#
# TALVEN_LOCALE (start, run) picks the locale Wine runs under, and so its ANSI code page:
# ja_JP.UTF-8 (the default: 932), en_US.UTF-8 (1252), zh_CN.UTF-8 (936), ko_KR.UTF-8 (949),
# C.UTF-8 (1252). Wine takes the code page per process from LC_ALL, so one prefix serves
# every locale; given to run, it applies to that command alone. The locale must have
# been generated (scripts/setup-deps.sh does so for these).
#   wine-rig.sh locale DIR LOCALE
#                              switch the running rig's prefix to LOCALE: Wine rewrites
#                              the prefix's font substitutes whenever the code page
#                              changes (its own choice for that code page, also on the way
#                              back to 932), so the rig's font table is applied again
#                              after the switch. run with TALVEN_LOCALE does this before
#                              its command and switches back to ja_JP.UTF-8 after it.
#
# rig.env exports: WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES LC_ALL LANG DISPLAY PATH
#                  RIG_DIR RIG_KIND RIG_XVFB_PID RIG_WM_PID RIG_TEMP_WIN (the prefix's %TEMP%)
#                  RIG_TEMP (its Unix path)
# Nothing here looks at processes it did not start: no pkill, no killall.
set -euo pipefail

die() { echo "wine-rig: $*" >&2; exit 1; }

wine32_loader=/usr/lib/wine/wine
wine64_loader=/usr/lib/wine/wine64

# Whether a 32-bit program runs here: the 32-bit loader is one, so asking it its version
# answers the question for real (installed is not enough: without the kernel's 32-bit
# support it fails with "Exec format error").
runs_32bit() {
  [ -x "$wine32_loader" ] && "$wine32_loader" --version >/dev/null 2>&1
}

host_kind() {
  case ${TALVEN_WINE:-} in
    win32|win64) echo "$TALVEN_WINE"; return ;;
    "") ;;
    *) die "TALVEN_WINE must be win32 or win64, not '$TALVEN_WINE'" ;;
  esac
  if runs_32bit; then echo win32; else echo win64; fi
}

describe_kind() {
  case $1 in
    win32) echo "i686 build (the shipped programs) under 32-bit Wine" ;;
    win64)
      if [ "${TALVEN_WINE:-}" = win64 ]; then
        echo "x86_64 build under 64-bit Wine (forced by TALVEN_WINE=win64)"
      else
        echo "x86_64 build under 64-bit Wine (this host cannot run 32-bit programs)"
      fi ;;
    *) die "unknown kind $1" ;;
  esac
}

case ${1:-} in
  kind) host_kind; exit 0 ;;
  describe) [ $# -ge 2 ] || die "describe needs a kind"; describe_kind "$2"; exit 0 ;;
esac

[ $# -ge 2 ] || die "usage: wine-rig.sh start|stop|run|status DIR [KIND|CMD...], or kind, or describe KIND"
action=$1
dir=$(mkdir -p "$2" && cd "$2" && pwd)
shift 2
env_file=$dir/rig.env
prefix=$dir/prefix

bin_dir=$dir/bin

# kind: from the argument of start, else from a running rig's environment, else win32.
pick_kind() {
  RIG_KIND=${1:-${RIG_KIND:-win32}}
  case $RIG_KIND in
    win32) WINEARCH=win32 ;;
    wow64 | win64) WINEARCH=win64 ;;
    *) die "unknown prefix kind $RIG_KIND (win32, wow64 or win64)" ;;
  esac
}

# For the win64 kind every Wine command must use the 64-bit loader: Debian's wine, wineboot
# and winepath pick the 32-bit one whenever it is installed. These shims come first in PATH.
make_shims() {
  rm -rf "$bin_dir"
  [ "$RIG_KIND" = win64 ] || return 0
  [ -x "$wine64_loader" ] || die "$wine64_loader is missing (install wine64)"
  mkdir -p "$bin_dir"
  local name
  for name in wine wine-stable; do
    printf '#!/bin/sh
export WINELOADER=%s
exec %s "$@"
' "$wine64_loader" "$wine64_loader" >"$bin_dir/$name"
    chmod +x "$bin_dir/$name"
  done
  for name in wineboot winepath regedit; do
    printf '#!/bin/sh
exec "%s/wine" %s.exe "$@"
' "$bin_dir" "$name" >"$bin_dir/$name"
    chmod +x "$bin_dir/$name"
  done
}

base_env() {
  export WINEPREFIX=$prefix
  export WINEARCH
  if [ -d "$bin_dir" ]; then
    case ":$PATH:" in *":$bin_dir:"*) ;; *) export PATH=$bin_dir:$PATH ;; esac
  fi
  export WINEDEBUG=-all
  # No Mono/Gecko download prompts and no menu/desktop entries written into $HOME.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  # ANSI code page 932 comes from the Japanese locale, unless another one is asked for.
  use_locale
}

# LC_ALL and LANG from TALVEN_LOCALE (default ja_JP.UTF-8), refused when not generated:
# Wine would silently fall back to code page 1252 and the test would prove nothing.
use_locale() {
  local want=${TALVEN_LOCALE:-ja_JP.UTF-8} norm
  norm=$(printf '%s' "$want" | sed 's/\.[Uu][Tt][Ff]-\?8$/.utf8/')
  locale -a 2>/dev/null | grep -qixF "$norm" ||
    die "locale $want is not generated here (run scripts/setup-deps.sh)"
  export LC_ALL=$want
  export LANG=$want
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

# A window manager, as every player's desktop has one: without it Wine's X11 driver waits
# about 2 s for each top-level window that goes away. Its own frames stay off (the prefix
# keeps Wine's Windows-like ones, see init_prefix), so screenshots look as on Windows.
start_wm() {
  command -v openbox >/dev/null || die "openbox is not installed (run scripts/setup-deps.sh)"
  local wm=$dir/wm
  mkdir -p "$wm"
  cat >"$wm/rc.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <focus><focusNew>yes</focusNew><followMouse>no</followMouse></focus>
  <placement><policy>Smart</policy></placement>
  <theme><keepBorder>no</keepBorder><animateIconify>no</animateIconify></theme>
  <desktops><number>1</number></desktops>
  <keyboard></keyboard>
  <mouse></mouse>
</openbox_config>
XML
  # Its own config and cache folders, so that nothing is read from or written to $HOME.
  XDG_CONFIG_HOME=$wm XDG_CACHE_HOME=$wm openbox --sm-disable --config-file "$wm/rc.xml" \
    </dev/null >"$dir/wm.log" 2>&1 &
  RIG_WM_PID=$!
  local waited=0
  # Ready once it has announced itself on the root window.
  while [ $waited -lt 100 ]; do
    kill -0 "$RIG_WM_PID" 2>/dev/null || die "openbox did not start (see $dir/wm.log)"
    if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then return 0; fi
    sleep 0.1
    waited=$((waited + 1))
  done
  die "openbox did not take the display (see $dir/wm.log)"
}

wm_alive() {
  local pid=$1
  [ -n "$pid" ] && [ -r "/proc/$pid/cmdline" ] && tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q '^openbox '
}

init_prefix() {
  # The prefix is made once per build folder and kept; system.reg marks a finished boot.
  if [ ! -f "$prefix/system.reg" ] || [ "$(cat "$prefix/.rig-ready" 2>/dev/null)" != "$RIG_KIND" ]; then
    echo "wine-rig: creating the $RIG_KIND prefix $prefix (first boot takes a while)"
    rm -rf "$prefix"
    wineboot -i </dev/null >"$dir/wineboot.log" 2>&1 || die "wineboot failed (see $dir/wineboot.log)"
    wineserver -w
    # No crash dialog: a crashing program prints winedbg's backtrace on stderr and ends at
    # once, and the test sees its exit code.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    wine reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f >/dev/null 2>&1 || true
    apply_fonts
    wineserver -w
    echo "$RIG_KIND" >"$prefix/.rig-ready"
  fi
  # The window manager manages the windows but Wine draws their frames, as on Windows.
  # Apart from the boot above, so that prefixes made before it get it too.
  if [ ! -f "$prefix/.rig-frames" ]; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f </dev/null >/dev/null 2>&1 ||
      die "could not keep Wine's own window frames"
    wineserver -w
    touch "$prefix/.rig-frames"
  fi
}

# The dialogs ask for the usual Japanese UI fonts; map them onto IPA Gothic, under any
# locale (Wine's own table for a code page other than 932 has no Japanese font).
apply_fonts() {
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
}

# The prefix under LC_ALL as it is now: a first program under it lets Wine switch the
# code page (and rewrite the font substitutes), then the font table goes back in.
switch_locale() {
  wine reg query 'HKCU\Software\Wine\Fonts' /v Codepages </dev/null >/dev/null 2>&1 || true
  apply_fonts
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
export WINEARCH=$WINEARCH
export RIG_KIND=$RIG_KIND
export PATH='$PATH'
export WINEDEBUG=-all
export WINEDLLOVERRIDES='$WINEDLLOVERRIDES'
export LC_ALL='$LC_ALL'
export LANG='$LANG'
export DISPLAY='$DISPLAY'
export RIG_DIR='$dir'
export RIG_XVFB_PID=$RIG_XVFB_PID
export RIG_WM_PID=$RIG_WM_PID
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
    pick_kind "${1:-}"
    make_shims
    base_env
    command -v wine >/dev/null || die "wine is not installed (run scripts/setup-deps.sh)"
    command -v Xvfb >/dev/null || die "Xvfb is not installed (run scripts/setup-deps.sh)"
    start_xvfb
    export DISPLAY
    start_wm
    init_prefix
    [ "$LC_ALL" = ja_JP.UTF-8 ] || switch_locale
    # One persistent wineserver for the whole run, instead of one per test.
    wineserver -p </dev/null >/dev/null 2>&1
    write_env
    echo "wine-rig: prefix $WINEPREFIX, display $DISPLAY, Xvfb pid $RIG_XVFB_PID, openbox pid $RIG_WM_PID"
    ;;
  stop)
    if [ -f "$env_file" ]; then
      # shellcheck disable=SC1090
      . "$env_file"
    fi
    pick_kind
    base_env
    if [ -d "$prefix" ]; then
      WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
      WINEPREFIX=$prefix wineserver -w 2>/dev/null || true
    fi
    if wm_alive "${RIG_WM_PID:-}"; then
      kill "$RIG_WM_PID" 2>/dev/null || true
      for _ in $(seq 50); do kill -0 "$RIG_WM_PID" 2>/dev/null || break; sleep 0.1; done
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
    [ -n "${TALVEN_LOCALE:-}" ] || exec "$@"
    use_locale
    switch_locale
    status=0
    "$@" || status=$?
    TALVEN_LOCALE=ja_JP.UTF-8 use_locale
    switch_locale
    exit $status
    ;;
  locale)
    [ $# -eq 1 ] || die "locale needs a locale"
    load_env || die "the rig is not running for $dir (wine-rig.sh start $dir)"
    TALVEN_LOCALE=$1 use_locale
    switch_locale
    ;;
  status)
    load_env || { echo "wine-rig: not running for $dir"; exit 1; }
    cat "$env_file"
    ;;
  *)
    die "unknown action $action"
    ;;
esac
