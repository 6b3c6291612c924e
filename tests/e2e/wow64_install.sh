# The shipped 32-bit setup.exe on a player's 64-bit Windows (a 64-bit prefix): a whole
# install of the sample game from its menu into the proposed folder. Afterwards the
# machine holds the game where a 32-bit program's view puts it: the HKLM keys and the
# uninstall entry under WOW6432Node (and not in the 64-bit view), HKCU shared, the
# literal "Program Files" folder that the installer composes (file-system redirection
# covers only the system folder, so nothing goes to "Program Files (x86)"), the INI file
# in the Windows folder, the shortcuts, and no access batch in %TEMP%.
. "$E2E_LIB"
. "$(dirname "$0")/install_lib.sh"
e2e_init

[ "${WINEARCH:-}" = win64 ] || e2e_fail "this test needs the 64-bit prefix of the wow64 rig"
sample_package "$SCRATCH/sample"
media_separate "$SCRATCH/sample/instdat.arc"
stage=$SCRATCH/sample/sample-game

title=$SAMPLE_TITLE
caption=$SAMPLE_CAPTION
app_key=$SAMPLE_KEY
wow_key='Software\WOW6432Node\TALVEN\TsukikageSample'
uninstall_key=$(uninstall_key "$title")
wow_uninstall_key="SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VoDod$title"
dest_win='C:\Program Files\TALVEN\TsukikageSample'
dest=$(unix_path "$dest_win")
x86_dest=$(unix_path 'C:\Program Files (x86)')/TALVEN

[ -d "$(unix_path 'C:\windows\syswow64')" ] || e2e_fail "the prefix has no SysWOW64: not a 64-bit prefix"
clean_sample_install "$dest_win" 'C:\Program Files (x86)\TALVEN'
drive_menu_install install "$dest_win" proposed=1 "shortcut=expect-checked $IDC_CHECK 1;click 1"

assert_installed_tree "$stage" "$dest"
assert_no_file "$x86_dest" "game folder under Program Files (x86)"

answers=$(inspect \
  "reg	HKLM	$app_key	InstallPath" \
  "reg64	HKLM	$wow_key	InstallPath" \
  "reg64	HKLM	$app_key	InstallPath" \
  "reg64	HKLM	$wow_uninstall_key	UninstallString" \
  "reg64	HKLM	$uninstall_key	UninstallString" \
  "reg64	HKCU	$app_key	InstTo" \
  "ini	C:\\windows\\tsukikage.ini	月影の譜	InstallPath" \
  "exists	$group\\$title アンインストール.LNK" \
  "exists	$desktop\\$title.LNK")
expected=$(printf '%s\n' \
  "$dest_win" \
  "$dest_win" \
  "<none>" \
  "\"$dest_win\\UnInst.exe\"" \
  "<none>" \
  "$dest_win" \
  "$dest_win" \
  1 \
  1)
[ "$answers" = "$expected" ] || e2e_fail "what the 64-bit machine holds (expected, got):
$(diff <(echo "$expected") <(echo "$answers"))"

assert_no_access_batch

e2e_pass
