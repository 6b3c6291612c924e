# The uninstaller after an install of the sample game from its menu (desktop shortcut
# ticked, UnInst.exe packed with the game): a save and a file of the player's own are
# added, the uninstall entry's command is run and both questions answered Yes. Then the
# uninstall entry, both application keys, the INI file, the Start-menu group and the
# desktop shortcut are as before the install, and the install folder holds only the
# player's file, which the closing text names; the program and its record are gone. A
# second run finds nothing to remove: without its record, and with the record but no
# uninstall entry.
. "$E2E_LIB"
. "$(dirname "$0")/uninstall_lib.sh"
e2e_init
require_uninst
rm -f "$RIG_TEMP"/UnInst_*.exe

install_sample_for_uninstall 'C:\アンインストール 試験\月影の譜'
# What the player adds: a save the game would write, and a file of their own.
printf 'save data\r\n' >"$dest/セーブ/slot01.sav"
printf 'my notes\r\n' >"$dest/メモ.txt"

command=$(uninstall_command "$uninstall_key")
assert_eq "$dest_win\\UnInst.exe" "$command" "uninstall command"
expect_drive uninstall <<EOS
$(uninstall_questions "$command" "$title" "click 6")
expect-text $BOX_TEXT "$(text_done "$title" "$dest_win" メモ.txt)"
click 1
wait-exit 0 20
EOS
wait_gone "$dest/UnInst.exe"
# The helper's copy in %TEMP% goes when the helper ends: no process or file stays behind.
for i in $(seq 100); do
  [ -z "$(temp_copies)" ] && break
  sleep 0.1
done
assert_empty "$(temp_copies)" "the helper's copy in the temporary folder"
assert_eq "メモ.txt" "$(files_left "$dest")" "what is left in the install folder"
world >"$SCRATCH/world.after"
diff "$SCRATCH/world.before" "$SCRATCH/world.after" >"$SCRATCH/world.diff" ||
  e2e_fail "not as before the install: $(cat "$SCRATCH/world.diff")"

# A second run: the program brought back without its record, then with it.
cp "$UNINST_EXE" "$dest/UnInst.exe"
uninstall_nothing again-no-record "$dest_win\\UnInst.exe" "$(text_no_record "$dest_win\\install.env")"
cp "$stage/install.env" "$dest/install.env"
uninstall_nothing again-no-entry "$dest_win\\UnInst.exe" "$(text_not_installed "$title")"
assert_file "$dest/メモ.txt" "the player's file after the second runs"
assert_file "$dest/install.env" "the record after a run that found no install"
rm -rf "$(unix_path 'C:\アンインストール 試験')"

e2e_pass
