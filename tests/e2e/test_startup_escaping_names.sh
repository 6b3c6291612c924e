#!/usr/bin/env bash
# Entry names that would leave the destination (a ".." component, a leading backslash, a
# drive, forward slashes) are a damaged package: refused before anything is written for
# them, so no file appears outside the work folder, and the run ends like any damaged
# package (box, -1, work folder removed). The names end in ".txt" so that the start-up
# pass would write them; talven-pack never writes such names, so each is made by
# renaming an entry of the same length in place.
. "$(dirname "$0")/lib.sh"
e2e_init

title='脱出テスト'
drive_c=$WINEPREFIX/drive_c

# escape_case NAME PLACEHOLDER ESCAPING_NAME FILE_THAT_MUST_NOT_APPEAR...
escape_case() {
  local name=$1 placeholder=$2 escaping=$3
  shift 3
  local game=$SCRATCH/$name
  rm -rf "$game"
  make_flat_game "$game" "$title"
  write_cp932 "$game/$placeholder" "escaped"
  local pkg=$SCRATCH/$name.arc
  pack_dir "$game" "$pkg"
  rename_entry "$pkg" "$placeholder" "$escaping"
  entry_field "$pkg" "$escaping" offset >/dev/null
  local f
  for f in "$@"; do rm -f "$f"; done
  media_separate "$pkg"
  expect_error_exit "$name" "$TEXT_DAMAGED" -1
  for f in "$@"; do assert_no_file "$f" "case $name: file written outside the work folder"; done
  # Nothing named like the entry anywhere in the prefix or the medium.
  local stray
  stray=$(find "$drive_c" -name "${escaping##*[\\/]}" 2>/dev/null | head -n 3)
  assert_empty "$stray" "case $name: escaped file found"
  e2e_log "  case $name: '$escaping' refused, nothing written outside"
}

# Control: the same renaming to a harmless name gives a package that starts, with the
# renamed file in the work folder; so the refusals below come from the names alone.
make_flat_game "$SCRATCH/control" "$title"
write_cp932 "$SCRATCH/control/xx_evil1.txt" "escaped"
pack_dir "$SCRATCH/control" "$SCRATCH/control.arc"
rename_entry "$SCRATCH/control.arc" 'xx_evil1.txt' 'yyzevil1.txt'
media_separate "$SCRATCH/control.arc"
snapshot_work_folders "$SCRATCH/control.before"
expect_drive control <<SCENARIO
start $MEDIA_WIN\\setup.exe
wait-window "$(menu_caption "$title")" 20
SCENARIO
folder=$(new_work_folders "$SCRATCH/control.before")
assert_file "$RIG_TEMP/$folder/yyzevil1.txt" "renamed entry in the work folder"
expect_drive control-close <<SCENARIO
attach setup.exe
wait-window "$(menu_caption "$title")" 20
close
wait-exit 0 20
SCENARIO

escape_case parent      'xx_evil1.txt'        '..\evil1.txt'        "$RIG_TEMP/evil1.txt"
escape_case parent2     'xxxxx_evil2.txt'     '..\..\evil2.txt'     "$RIG_TEMP/../evil2.txt"
escape_case inner       'a_xx_xx_evil3.txt'   'a\..\..\evil3.txt'   "$RIG_TEMP/evil3.txt"
escape_case backslash   '_evil4.txt'          '\evil4.txt'          "$drive_c/evil4.txt"
escape_case drive       'C__evil5.txt'        'C:\evil5.txt'        "$drive_c/evil5.txt"
escape_case drive-rel   'C_evil6.txt'         'C:evil6.txt'         "$drive_c/evil6.txt" "$MEDIA/evil6.txt"
escape_case slashes     'xx_evil7.txt'        '../evil7.txt'        "$RIG_TEMP/evil7.txt"
escape_case unc         '__srv_evil8.txt'     '\\srv\evil8.txt'     "$drive_c/srv/evil8.txt"
e2e_pass
