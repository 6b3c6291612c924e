# The uninstaller after an immediate install (FORCEINSTALL) that took UnInst.exe from the
# medium's bin folder, on a system reported as Windows XP to both programs (so the
# shortcuts are the current user's): the save is kept by taking the second question's
# default (Enter), everything else the install wrote goes (application keys in both hives,
# INI values and the INI file, the Start-menu group, the desktop shortcut, the uninstall
# entry), and the closing text names the kept save folder, which is all that is left.
. "$E2E_LIB"
. "$(dirname "$0")/uninstall_lib.sh"
e2e_init
require_uninst

title='即時導入の削除'
uninstall_key=$(uninstall_key "$title")
dest_win="$MEDIA_WIN\\導入先"
dest=$MEDIA/導入先
# INI_FILE is a bare name: the file lies in the Windows folder.
ini_win=e2e_uninstall_force.ini
ini_file=$WINEPREFIX/drive_c/windows/$ini_win
make_game "$SCRATCH/game" "$title" "FORCEINSTALL	1" "REG_GLOBAL	TALVEN_UNINST" "REG_LOCAL	force" \
  "INI_FILE	$ini_win" "INI_SECTION	設定" \
  '[reg]' '"InstTo"="REP_INSTALL"' '-' '[regall]' '"Path"="REP_INSTALL\\データ"' '-' \
  '[ini]' 'Path=REP_INSTALL' 'Disc=REP_CDROMDRIVE' '-' \
  '[delfiles]' 'readme.txt' 'insttscr.rct' 'game.exe' 'データ\' 'save\info.ini' '-' \
  '[delfiles_user]' 'save\*.sav' '-'
pack_dir "$SCRATCH/game" "$SCRATCH/game.arc"
media_separate "$SCRATCH/game.arc"
mkdir -p "$MEDIA/bin"
cp "$UNINST_EXE" "$MEDIA/bin/UnInst.exe"
printf 'the real game program\r\n' >"$MEDIA/bin/game.exe"

xp_restore() {
  local exe
  for exe in setup.exe UnInst.exe; do
    wine reg delete "HKCU\\Software\\Wine\\AppDefaults\\$exe" /f >/dev/null 2>&1 || true
  done
}
trap 'status=$?; uninstall_cleanup; (xp_restore); (exit $status); e2e_cleanup' EXIT
for exe in setup.exe UnInst.exe; do
  wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$exe" /v Version /d winxp /f >/dev/null 2>&1 ||
    e2e_fail "cannot set the version reported to $exe"
done
clean_install "$title" 'Software\TALVEN_UNINST' "$title" "$ini_win"
common_programs=$programs programs=$user_programs desktop=$user_desktop

world() {
  key_state 'HKCU\Software\TALVEN_UNINST' 'HKLM\Software\TALVEN_UNINST' "HKLM\\$uninstall_key"
  echo "ini: $( [ -e "$ini_file" ] && md5sum <"$ini_file" || echo absent)"
  echo "group: $( [ -e "$(unix_path "$programs")/$title" ] && echo present || echo absent)"
  echo "all users' group: $( [ -e "$(unix_path "$common_programs")/$title" ] && echo present || echo absent)"
  echo "desktop: $( [ -e "$(unix_path "$desktop")/$title.LNK" ] && echo present || echo absent)"
}
world >"$SCRATCH/world.before"

drive_menu_install install "$dest_win" menu= "shortcut=expect-checked $IDC_CHECK 1;click 1" wait=120
assert_same_file "$UNINST_EXE" "$dest/UnInst.exe"
world >"$SCRATCH/world.installed"
grep -q 'InstTo' "$SCRATCH/world.installed" || e2e_fail "the install wrote no [reg] value"
grep -qx 'group: present' "$SCRATCH/world.installed" || e2e_fail "no group in the user's Start menu"
grep -qx 'desktop: present' "$SCRATCH/world.installed" || e2e_fail "no shortcut on the user's desktop"
[ -e "$ini_file" ] || e2e_fail "the install wrote no INI file"

printf 'slot 1\r\n' >"$dest/save/slot1.sav"
command=$(uninstall_command "$uninstall_key")
expect_drive uninstall <<EOS
$(uninstall_questions "$command" "$title" "key enter")
expect-text $BOX_TEXT "$(text_done "$title" "$dest_win" 'save\')"
click 1
wait-exit 0 20
EOS
wait_gone "$dest/UnInst.exe"
assert_eq "save save/slot1.sav" "$(files_left "$dest")" "what is left in the install folder"
world >"$SCRATCH/world.after"
diff "$SCRATCH/world.before" "$SCRATCH/world.after" >"$SCRATCH/world.diff" ||
  e2e_fail "not as before the install: $(cat "$SCRATCH/world.diff")"

e2e_pass
