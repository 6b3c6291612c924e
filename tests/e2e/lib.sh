# Shared helpers of the end-to-end tests (tests/e2e/test_*.sh). A test starts with
#
#   . "$E2E_LIB"        (or . "$(dirname "$0")/lib.sh")
#   e2e_init
#
# CTest runs each test through "wine-rig.sh run", so the rig's environment is set
# (WINEPREFIX, DISPLAY, WINEDEBUG, LC_ALL, RIG_TEMP = the prefix's %TEMP% as a Unix path,
# RIG_TEMP_WIN = the same as a Windows path), plus these from cmake/wine-tests.cmake:
#   SETUP_EXE     the built setup.exe           UIDRIVER_EXE  the built uidriver.exe
#   TALVEN_PACK   the host build's talven-pack  REPO          the source tree
#   E2E_NAME      the test's name               E2E_SCRATCH   its scratch folder (host side)
#   E2E_IDS       the control ids, made from resources/resource_ids.h (sourced by scenarios.sh)
# To run one by hand: wine-rig.sh start BUILD; then the same variables and
#   wine-rig.sh run BUILD bash tests/e2e/test_x.sh
#
# After e2e_init:
#   $SCRATCH      empty host-side folder of this test (packages, game folders, logs)
#   $MEDIA        empty folder inside the prefix (drive_c/e2e/NAME): the install medium
#   $MEDIA_WIN    the same as a Windows path
# Every test ends with e2e_pass; a failed assertion prints what failed and exits 1.
# On exit any setup.exe still running in the prefix is terminated.

set -eEuo pipefail

E2E_FAILED=0
E2E_LAST_ERR=

# A command that fails under set -e ends the test without a word of its own; remember
# which one it was, so that the end of the test can say it.
e2e_note_err() {
  E2E_LAST_ERR="status $1 at ${BASH_SOURCE[1]##*/}:$2${FUNCNAME[1]:+ in ${FUNCNAME[1]}}: $3"
}
trap 'e2e_note_err $? $LINENO "$BASH_COMMAND"' ERR

. "$(dirname "${BASH_SOURCE[0]}")/scenarios.sh"

e2e_log() { printf '%s\n' "$*"; }

e2e_fail() {
  E2E_FAILED=1
  printf 'FAIL [%s]: %s\n' "${E2E_NAME:-e2e}" "$*" >&2
  exit 1
}

e2e_init() {
  local v
  for v in SETUP_EXE UIDRIVER_EXE REPO E2E_NAME E2E_SCRATCH WINEPREFIX DISPLAY RIG_TEMP; do
    [ -n "${!v:-}" ] || e2e_fail "$v is not set: run the test through ctest (or see tests/e2e/lib.sh)"
  done
  [ -f "$SETUP_EXE" ] || e2e_fail "setup.exe is not built: $SETUP_EXE"
  [ -f "$UIDRIVER_EXE" ] || e2e_fail "uidriver.exe is not built: $UIDRIVER_EXE"
  SCRATCH=$E2E_SCRATCH
  rm -rf "$SCRATCH"
  mkdir -p "$SCRATCH"
  MEDIA=$WINEPREFIX/drive_c/e2e/$E2E_NAME
  rm -rf "$MEDIA"
  mkdir -p "$MEDIA"
  MEDIA_WIN=$(win_path "$MEDIA")
  remove_stale_work_folders
  trap e2e_cleanup EXIT
  e2e_log "== $E2E_NAME: medium $MEDIA_WIN, scratch $SCRATCH"
}

e2e_cleanup() {
  local status=$?
  # A failed test may leave its installer running; it must not disturb the next test.
  printf 'kill-image setup.exe\n' | wine "$UIDRIVER_EXE" - >/dev/null 2>&1 || true
  if [ $status -ne 0 ] && [ "$E2E_FAILED" -eq 0 ]; then
    printf 'FAIL [%s]: stopped with status %d%s\n' "$E2E_NAME" "$status" \
      "${E2E_LAST_ERR:+ (last failed command: $E2E_LAST_ERR)}" >&2
  fi
}

e2e_pass() {
  e2e_log "PASS [$E2E_NAME]"
}

require_talven_pack() {
  [ -n "${TALVEN_PACK:-}" ] && [ -x "$TALVEN_PACK" ] ||
    e2e_fail "talven-pack not found at '${TALVEN_PACK:-}': build the host preset first (cmake --preset host && cmake --build build/host)"
}

# q TEXT: TEXT with its backslashes doubled: inside double quotes of a scenario a doubled
# backslash is one backslash.
q() { printf '%s' "$1" | sed 's/\\/\\\\/g'; }

# --- paths ------------------------------------------------------------------------------------

# win_path UNIX_PATH: the path as setup.exe sees it (C:\...).
win_path() {
  wine_path_of -w "$1"
}

# unix_path WINDOWS_PATH
unix_path() {
  wine_path_of -u "$1"
}

# winepath is a Wine program like any other: under load it can fail or print nothing.
# Ask again before giving up, and then say which path it was.
wine_path_of() {
  local out try
  for try in 1 2 3; do
    out=$(winepath "$1" "$2" 2>/dev/null </dev/null | tr -d '\r' | tail -n 1) || out=
    [ -n "$out" ] && { printf '%s\n' "$out"; return 0; }
    sleep 0.5
  done
  e2e_fail "winepath $1 could not convert '$2'"
}

# --- game folders and packages -------------------------------------------------------------------

# write_cp932 FILE LINE...: a text file in CP932 with CR LF line ends (as install.env is).
write_cp932() {
  local file=$1
  shift
  printf '%s\n' "$@" | iconv -f UTF-8 -t CP932 | sed 's/$/\r/' >"$file" ||
    e2e_fail "cannot write $file in CP932"
}

# make_game DIR TITLEBAR [MORE_ENV_LINES...]: a small game folder: install.env with the
# title, a readme, the menu picture, a program and some files in sub-folders. A space in
# a setting's value is written "|" (install.env's rule); MORE_ENV_LINES are "KEY<TAB>VALUE"
# lines or section lines, added after the generated ones.
make_game() {
  local dir=$1 title=$2
  shift 2
  require_talven_pack
  mkdir -p "$dir/データ/画像" "$dir/save"
  write_cp932 "$dir/install.env" "TITLEBAR	$title" "INSTTO	E2E_$E2E_NAME" "EXENAME	game.exe" "$@"
  write_cp932 "$dir/readme.txt" "$title のお読みください" "テスト用の説明書です。"
  make_picture "$dir/insttscr.rct" 320 200
  printf 'game program stand-in\r\n' >"$dir/game.exe"
  head -c 300000 /dev/urandom >"$dir/データ/画像/背景01.bmp"
  printf 'save folder\r\n' >"$dir/save/info.ini"
}

# make_picture OUT.rct WIDTH HEIGHT: a plain gradient as the menu background.
make_picture() {
  local png=$SCRATCH/picture-$2x$3.png
  if [ ! -f "$png" ]; then
    convert -size "$2x$3" gradient:'#203050-#8090c0' "PNG24:$png" || e2e_fail "convert could not draw $png"
  fi
  "$TALVEN_PACK" rct encode "$png" "$1" >/dev/null || e2e_fail "talven-pack rct encode failed for $1"
}

# pack_dir DIR OUT: an install package of DIR.
pack_dir() {
  require_talven_pack
  "$TALVEN_PACK" pack --no-check "$1" "$2" >"$SCRATCH/pack.log" 2>&1 ||
    e2e_fail "talven-pack pack $1 failed: $(cat "$SCRATCH/pack.log")"
}

# media_separate PACKAGE: setup.exe and PACKAGE as instdat.arc side by side in $MEDIA.
media_separate() {
  cp "$SETUP_EXE" "$MEDIA/setup.exe"
  cp "$1" "$MEDIA/instdat.arc"
}

# media_appended PACKAGE: PACKAGE appended to setup.exe in $MEDIA, no instdat.arc.
media_appended() {
  require_talven_pack
  rm -f "$MEDIA/instdat.arc"
  "$TALVEN_PACK" append "$SETUP_EXE" "$1" "$MEDIA/setup.exe" >"$SCRATCH/append.log" 2>&1 ||
    e2e_fail "talven-pack append failed: $(cat "$SCRATCH/append.log")"
}

# append_unpadded PACKAGE OUT: setup.exe with PACKAGE appended as older media were, with
# no zeros between the program and the package.
append_unpadded() {
  local size padded
  require_talven_pack
  "$TALVEN_PACK" append "$SETUP_EXE" "$1" "$2" >"$SCRATCH/append.log" 2>&1 ||
    e2e_fail "talven-pack append failed: $(cat "$SCRATCH/append.log")"
  size=$(stat -c %s "$SETUP_EXE")
  padded=$(package_field "$2" start)
  set_package_start "$2" "$size"
  cut_bytes "$2" "$size" "$padded"
}

# media_appended_unpadded PACKAGE: the same in $MEDIA, no instdat.arc.
media_appended_unpadded() {
  rm -f "$MEDIA/instdat.arc"
  append_unpadded "$1" "$MEDIA/setup.exe"
}

# media_exe_only: setup.exe with neither instdat.arc nor an appended package.
media_exe_only() {
  rm -f "$MEDIA/instdat.arc"
  cp "$SETUP_EXE" "$MEDIA/setup.exe"
}

# --- package surgery for damaged packages ----------------------------------------------------------
# The layout is talven-pack's to know: where the package lies in a file, its entries, the
# offsets and widths of their fields all come from "talven-pack list --json"; only the
# bytes themselves are read and written here. FILE is a package or an executable
# carrying one: the offsets are the file's own.

# read_uint FILE OFFSET BYTES: unsigned little-endian integer.
read_uint() {
  local bytes
  bytes=$(od -An -tu1 -j "$2" -N "$3" "$1" | tr -s ' \n' ' ')
  local value=0 shift=0 b
  for b in $bytes; do
    value=$(( value + (b << shift) ))
    shift=$((shift + 8))
  done
  echo "$value"
}

# write_uint FILE OFFSET BYTES VALUE: overwrite in place (VALUE may be negative).
write_uint() {
  local file=$1 offset=$2 count=$3 value=$4 i esc=""
  for ((i = 0; i < count; i++)); do
    esc+=$(printf '\\%03o' $(( (value >> (8 * i)) & 255 )))
  done
  printf "$esc" | dd of="$file" bs=1 seek="$offset" conv=notrunc status=none
}

# flip_byte FILE OFFSET: invert every bit of one byte.
flip_byte() {
  local b
  b=$(read_uint "$1" "$2" 1)
  write_uint "$1" "$2" 1 $(( b ^ 255 ))
}

# cut_bytes FILE FROM TO: remove the bytes FROM..TO-1, closing the gap.
cut_bytes() {
  { head -c "$2" "$1"; tail -c +$(($3 + 1)) "$1"; } >"$1.cut" && mv "$1.cut" "$1"
}

# package_entries FILE: talven-pack's JSON lines: the package (kind "package"), one per
# entry, then the end marker (kind "end"); a package damaged on purpose lists up to its
# damage (an entry refused for its name included, with a "damage" field).
package_entries() {
  require_talven_pack
  "$TALVEN_PACK" list --json "$1" 2>/dev/null || true
}

# json_number KEY: that number of the JSON line on stdin.
json_number() {
  sed -n "s/.*\"$1\":\(-\{0,1\}[0-9]*\).*/\1/p"
}

# package_field FILE FIELD: start, length (of the package in FILE), start_at (the field
# of an executable holding the start), or a field's width (name_length_bytes, ...).
package_field() {
  package_entries "$1" | head -n 1 | json_number "$2"
}

# entry_field FILE NAME FIELD: FIELD of the entry NAME (UTF-8, backslashes between
# folders): offset (of the entry), name_length (stored, NUL included), size, packed, data
# (offset of the zlib data, -1 for folders), name_at, size_at, packed_at, time_at.
entry_field() {
  local line name
  name=$(printf '%s' "$2" | sed 's/\\/\\\\/g; s/"/\\"/g')
  line=$(package_entries "$1" | grep -F "\"name\":\"$name\"}" | head -n 1 || true)
  [ -n "$line" ] || e2e_fail "no entry $2 in $1"
  line=$(printf '%s\n' "$line" | json_number "$3")
  [ -n "$line" ] || e2e_fail "entry_field: talven-pack lists no $3"
  echo "$line"
}

# write_field FILE NAME FIELD VALUE: set name_length, size or packed of the entry NAME.
write_field() {
  local key=$3_at at bytes
  [ "$3" != name_length ] || key=offset
  at=$(entry_field "$1" "$2" "$key")
  bytes=$(package_field "$1" "$3_bytes")
  [ -n "$bytes" ] || e2e_fail "write_field: talven-pack gives no width of $3"
  write_uint "$1" "$at" "$bytes" "$4"
}

# set_package_start FILE VALUE: the start an executable's trailer names.
set_package_start() {
  local at bytes
  at=$(package_field "$1" start_at)
  bytes=$(package_field "$1" start_bytes)
  [ "${at:--1}" -ge 0 ] || e2e_fail "set_package_start: $1 carries no package"
  write_uint "$1" "$at" "$bytes" "$2"
}

# cut_package FILE OFFSET: the package ends at OFFSET; what follows the package in the
# file (an executable's trailer) stays.
cut_package() {
  cut_bytes "$1" "$2" $(( $(package_field "$1" start) + $(package_field "$1" length) ))
}

# data_middle FILE NAME: the offset halfway into the compressed data of the entry NAME.
data_middle() {
  echo $(( $(entry_field "$1" "$2" data) + $(entry_field "$1" "$2" packed) / 2 ))
}

# rename_entry PACKAGE OLD NEW: rewrite an entry's name in place; NEW must be as long as
# OLD in CP932 bytes. The way to get names that talven-pack would never write (..\x).
rename_entry() {
  local file=$1 old new offset
  old=$(printf '%s' "$2" | iconv -f UTF-8 -t CP932 | wc -c)
  new=$(printf '%s' "$3" | iconv -f UTF-8 -t CP932 | wc -c)
  [ "$old" -eq "$new" ] || e2e_fail "rename_entry: '$2' and '$3' differ in length"
  offset=$(entry_field "$file" "$2" name_at)
  printf '%s' "$3" | iconv -f UTF-8 -t CP932 | dd of="$file" bs=1 seek="$offset" conv=notrunc status=none
}

# damaged_case PACKAGE NAME separate|appended EDIT...: $MEDIA with the sound PACKAGE,
# separate or appended, damaged by the command EDIT... FILE (offsets from FILE itself);
# then setup.exe must end in the damaged-package box with -1 and leave no work folder.
damaged_case() {
  local good=$1 name=$2 kind=$3 target
  shift 3
  if [ "$kind" = separate ]; then
    target=$SCRATCH/$name.arc
    cp "$good" "$target"
  else
    media_appended "$good"
    target=$MEDIA/setup.exe
  fi
  cp "$target" "$SCRATCH/$name.before"
  "$@" "$target"
  ! cmp -s "$SCRATCH/$name.before" "$target" || e2e_fail "case $name: the edit changed nothing"
  [ "$kind" != separate ] || media_separate "$target"
  expect_error_exit "$name" "$TEXT_DAMAGED" -1
  e2e_log "  case $name ($kind): damaged-package box, -1, work folder removed"
}

# --- the driver ----------------------------------------------------------------------------------------

# drive [LABEL] <<'EOF' ... EOF: run uidriver.exe with the scenario on stdin. Its report
# goes to stdout and to $SCRATCH/LABEL.log; the driver's status is returned (0 when every
# step held). Use "drive LABEL || e2e_fail ..." or expect_drive.
drive() {
  local label=${1:-driver}
  local log=$SCRATCH/$label.log
  local status=0
  wine "$UIDRIVER_EXE" - >"$log" 2>&1 || status=$?
  tr -d '\r' <"$log" | sed "s/^/  [$label] /"
  return $status
}

# expect_drive LABEL <<'EOF': drive and fail the test when the scenario fails.
expect_drive() {
  drive "$1" || e2e_fail "scenario $1 failed (see above and $SCRATCH/$1.log)"
}

# --- work folders ------------------------------------------------------------------------------------

# work_folders: the names of the installer's work folders now in the prefix's temp folder.
work_folders() {
  (cd "$RIG_TEMP" && ls -d DireVEZiriruvOdador_* 2>/dev/null) | sort || true
}

# snapshot_work_folders FILE: record them, for new_work_folders.
snapshot_work_folders() {
  work_folders >"$1"
}

# new_work_folders FILE: the work folders that were not there at the snapshot.
new_work_folders() {
  work_folders | comm -13 "$1" - || true
}

# remove_stale_work_folders: a previous failed test may have left some behind (e2e_init
# calls it).
remove_stale_work_folders() {
  local f
  for f in $(work_folders); do rm -rf "${RIG_TEMP:?}/$f"; done
}

# --- assertions ----------------------------------------------------------------------------------------

assert_eq() {  # assert_eq EXPECTED ACTUAL WHAT
  [ "$1" = "$2" ] || e2e_fail "$3: expected '$1', got '$2'"
}

assert_file() {  # assert_file PATH [WHAT]
  [ -f "$1" ] || e2e_fail "${2:-file} missing: $1"
}

assert_no_file() {  # assert_no_file PATH [WHAT]
  [ ! -e "$1" ] || e2e_fail "${2:-file} should not exist: $1"
}

assert_empty() {  # assert_empty TEXT WHAT
  [ -z "$1" ] || e2e_fail "$2: expected nothing, got: $(echo "$1" | tr '\n' ' ')"
}

assert_same_file() {  # assert_same_file EXPECTED ACTUAL
  cmp -s "$1" "$2" || e2e_fail "$2 differs from $1"
}

# screenshot NAME: the whole virtual display as $SCRATCH/NAME.png (host side).
screenshot() {
  import -display "$DISPLAY" -window root "$SCRATCH/$1.png" 2>/dev/null ||
    e2e_log "  (screenshot $1 failed)"
}

# --- the installer's texts and common runs ------------------------------------------------------------

TEXT_MISSING_FILES='起動に必要なファイルが不足しています。\nインストールの異常終了、起動するフォルダ異常、等を確認してください。'
TEXT_DAMAGED='ファイルの読み込みに失敗しました。ファイルが壊れている可能性があります。'

# expect_error_exit LABEL TEXT CODE: start $MEDIA's setup.exe, expect the error box with no
# owner (empty caption, OK only) holding TEXT, the same text on the clipboard, then OK and
# the exit code CODE; afterwards no work folder of this run may remain.
# TEXT is written as in a scenario (\n for a line break).
expect_error_exit() {
  local label=$1 text=$2 code=$3 before=$SCRATCH/$1.before
  snapshot_work_folders "$before"
  expect_drive "$label" <<SCENARIO
clear-clipboard
start $MEDIA_WIN\\setup.exe
wait-window class:#32770 "" 20
expect-text $BOX_TEXT "$text"
expect-buttons 1=OK
expect-clipboard "$text"
click 1
wait-exit $code 20
SCENARIO
  assert_empty "$(new_work_folders "$before")" "$label: work folder left behind"
}

# menu_caption TITLE: the caption of the menu for a TITLEBAR.
menu_caption() {
  printf '%s スタートアップ' "$1"
}

# menu_exit LABEL CAPTION [LINES [SETUP_WIN]]: SETUP_WIN ($MEDIA's setup.exe) shows the
# menu of CAPTION, the driver lines LINES are played on it, and its exit button ends it
# with 0.
menu_exit() {
  local exe="$MEDIA_WIN\\setup.exe"
  [ -z "${4:-}" ] || exe=$4
  expect_drive "$1" <<SCENARIO
start $exe
wait-window class:#32770 "$2" 30
${3:-}
click $IDC_MENU_BUTTON1
wait-exit 0 20
SCENARIO
}

# menu_then_close LABEL TITLE: $MEDIA's setup.exe reaches the menu of TITLE, whose close
# box ends it with 0.
menu_then_close() {
  expect_drive "$1" <<SCENARIO
start $MEDIA_WIN\\setup.exe
wait-window "$(menu_caption "$2")" 20
close
wait-exit 0 20
SCENARIO
}

# make_flat_game DIR TITLEBAR: only top-level files, so the start-up pass reads the package
# to its terminator (a nested folder entry would end the pass early).
make_flat_game() {
  local dir=$1 title=$2
  require_talven_pack
  mkdir -p "$dir"
  write_cp932 "$dir/install.env" "TITLEBAR	$title" "INSTTO	E2E_$E2E_NAME"
  write_cp932 "$dir/readme.txt" "$title" "説明書"
  make_picture "$dir/insttscr.rct" 320 200
  printf 'game program stand-in\r\n' >"$dir/game.exe"
}
