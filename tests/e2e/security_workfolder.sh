# setup.exe's work-folder clean-up deletes only what lies in the work folder: a file
# dropped there while the menu is open, under a name that a best-fit conversion reads as
# "..\" (U+00A5 is 0x5C in code page 932), is left, and the file it would name outside
# the folder stays.
. "$E2E_LIB"
. "$(dirname "$0")/menu_lib.sh"
e2e_init

title="作業フォルダ試験"
caption="$title スタートアップ"
menu_package plain "$title"
media_separate "$SCRATCH/plain.arc"
snapshot_work_folders "$SCRATCH/before"
victim=$RIG_TEMP/security_victim.txt
printf 'keep\r\n' >"$victim"

expect_drive menu <<EOS
start $MEDIA_WIN\\setup.exe
wait-window class:#32770 "$caption"
EOS
work=$(wait_new_work_folder "$SCRATCH/before") || e2e_fail "no work folder appeared"
printf 'dropped\r\n' >"$RIG_TEMP/$work/..¥security_victim.txt"
expect_drive exit <<EOS
attach setup.exe
wait-window class:#32770 "$caption"
click $IDC_MENU_BUTTON1
wait-exit 0
EOS
assert_file "$victim" "the file beside the work folder"
assert_eq "..¥security_victim.txt" "$(ls -A "$RIG_TEMP/$work")" "what is left in the work folder"
rm -rf "${RIG_TEMP:?}/$work" "$victim"

e2e_pass
