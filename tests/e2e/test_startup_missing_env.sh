#!/usr/bin/env bash
# A package without install.env: the start-up pass succeeds, the settings file is not
# found, and the missing-files box (no owner, so an empty caption) ends the run with -1
# after removing the work folder. While the box is up the work folder holds what the
# start-up pass wrote, and the clipboard holds the box's text.
. "$(dirname "$0")/lib.sh"
e2e_init

make_game "$SCRATCH/game" "環境なし"
rm "$SCRATCH/game/install.env"
pack_dir "$SCRATCH/game" "$SCRATCH/no-env.arc"
media_separate "$SCRATCH/no-env.arc"

snapshot_work_folders "$SCRATCH/before"
expect_drive box <<SCENARIO
clear-clipboard
start $MEDIA_WIN\\setup.exe
wait-window class:#32770 "" 20
expect-caption ""
expect-text $BOX_TEXT "$TEXT_MISSING_FILES"
expect-buttons 1=OK
expect-window-count 1
SCENARIO

# The box is up: this run's work folder exists and holds the start-up entries only.
folder=$(new_work_folders "$SCRATCH/before")
[ "$(echo "$folder" | wc -w)" -eq 1 ] || e2e_fail "expected one new work folder, found: '$folder'"
case $folder in
  DireVEZiriruvOdador_[0-9-][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9]) ;;
  *) e2e_fail "work folder name $folder is not DireVEZiriruvOdador_ and nine digits" ;;
esac
assert_eq "insttscr.rct readme.txt" "$(cd "$RIG_TEMP/$folder" && ls | sort | tr '\n' ' ' | sed 's/ $//')" \
  "files of the start-up pass"
assert_same_file "$SCRATCH/game/readme.txt" "$RIG_TEMP/$folder/readme.txt"
screenshot missing-env-box

expect_drive answer <<SCENARIO
attach setup.exe
wait-window class:#32770 "" 20
expect-clipboard "$TEXT_MISSING_FILES"
click 1
wait-exit -1 20
SCENARIO
assert_no_file "$RIG_TEMP/$folder" "work folder after the box"
assert_empty "$(new_work_folders "$SCRATCH/before")" "work folders left behind"

# The same from an appended package, in one go.
media_appended "$SCRATCH/no-env.arc"
expect_error_exit appended "$TEXT_MISSING_FILES" -1
e2e_pass
