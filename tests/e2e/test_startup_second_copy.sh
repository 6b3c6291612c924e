#!/usr/bin/env bash
# A second copy started while the menu of the first is open: it finds the mutex named
# after the menu caption, shows "[ caption ] は既に起動中です" in a topmost box captioned
# with the title-bar text, removes its own work folder and ends with 0; the first copy
# and its work folder are untouched and it still ends normally.
. "$(dirname "$0")/lib.sh"
e2e_init

title='二重起動テスト'
caption=$(menu_caption "$title")
make_game "$SCRATCH/game" "$title"
pack_dir "$SCRATCH/game" "$SCRATCH/game.arc"
media_separate "$SCRATCH/game.arc"

snapshot_work_folders "$SCRATCH/before"
expect_drive first <<SCENARIO
start $MEDIA_WIN\\setup.exe
wait-window "$caption" 20
SCENARIO
first=$(new_work_folders "$SCRATCH/before")
[ "$(echo "$first" | wc -w)" -eq 1 ] || e2e_fail "expected one work folder for the first copy, found: '$first'"

snapshot_work_folders "$SCRATCH/with-first"
expect_drive second <<SCENARIO
start $MEDIA_WIN\\setup.exe
wait-window class:#32770 "$title" 20
expect-text $BOX_TEXT "[ $caption ] は既に起動中です"
expect-buttons 1=OK
expect-window-count 1
SCENARIO
second=$(new_work_folders "$SCRATCH/with-first")
[ "$(echo "$second" | wc -w)" -eq 1 ] || e2e_fail "expected one work folder for the second copy, found: '$second'"
# The second copy extracted its start-up files before it met the mutex.
assert_file "$RIG_TEMP/$second/install.env" "second copy's install.env"
screenshot second-copy-box

expect_drive answer <<SCENARIO
attach setup.exe
wait-window class:#32770 "$title" 20
click 1
wait-exit 0 20
SCENARIO
assert_no_file "$RIG_TEMP/$second" "second copy's work folder"
assert_file "$RIG_TEMP/$first/install.env" "first copy's install.env"

expect_drive first-again <<SCENARIO
attach setup.exe
wait-window "$caption" 20
expect-window-count 1
expect-running
close
wait-exit 0 20
SCENARIO
assert_no_file "$RIG_TEMP/$first" "first copy's work folder after its menu closed"
assert_empty "$(new_work_folders "$SCRATCH/before")" "work folders left behind"
e2e_pass
