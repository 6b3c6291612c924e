#!/usr/bin/env bash
# The package as instdat.arc beside setup.exe and appended to setup.exe: both reach the
# menu of their own install.env, the work folder then holds exactly the start-up entries
# (the picture, install.env and top-level .txt files, nothing else), and a normal end
# (close box) leaves exit code 0 and no work folder. The appended package wins over an
# instdat.arc beside it (a file dropped into a download folder is not installed).
. "$(dirname "$0")/lib.sh"
e2e_init

make_game "$SCRATCH/separate" '別ファイル版'
write_cp932 "$SCRATCH/separate/notes.TXT.old" "start-up file by its name"
write_cp932 "$SCRATCH/separate/insttscr.rc" "not a start-up file"
pack_dir "$SCRATCH/separate" "$SCRATCH/separate.arc"
make_game "$SCRATCH/appended" '追加版'
pack_dir "$SCRATCH/appended" "$SCRATCH/appended.arc"

# menu_run LABEL TITLE EXPECTED_FILES: run to the menu, look at the work folder, close.
menu_run() {
  local label=$1 title=$2 files=$3
  snapshot_work_folders "$SCRATCH/$label.before"
  expect_drive "$label" <<SCENARIO
start $MEDIA_WIN\\setup.exe
wait-window "$(menu_caption "$title")" 20
expect-window-count 1
SCENARIO
  local folder
  folder=$(new_work_folders "$SCRATCH/$label.before")
  [ "$(echo "$folder" | wc -w)" -eq 1 ] || e2e_fail "$label: expected one work folder, found '$folder'"
  assert_eq "$files" "$(cd "$RIG_TEMP/$folder" && ls | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')" \
    "$label: files of the start-up pass"
  screenshot "$label-menu"
  expect_drive "$label-close" <<SCENARIO
attach setup.exe
wait-window "$(menu_caption "$title")" 20
close
wait-gone 20
wait-exit 0 20
SCENARIO
  assert_no_file "$RIG_TEMP/$folder" "$label: work folder after the menu closed"
  assert_empty "$(new_work_folders "$SCRATCH/$label.before")" "$label: work folders left behind"
}

media_separate "$SCRATCH/separate.arc"
menu_run separate '別ファイル版' "install.env insttscr.rct notes.TXT.old readme.txt"
assert_same_file "$SCRATCH/separate.arc" "$MEDIA/instdat.arc"

media_appended "$SCRATCH/appended.arc"
assert_no_file "$MEDIA/instdat.arc" "instdat.arc beside the appended setup.exe"
menu_run appended '追加版' "install.env insttscr.rct readme.txt"

# Both present: the package the program carries.
cp "$SCRATCH/separate.arc" "$MEDIA/instdat.arc"
menu_run both '追加版' "install.env insttscr.rct readme.txt"
e2e_pass
