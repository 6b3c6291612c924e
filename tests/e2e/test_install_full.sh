# A whole install of the sample game from its menu, twice:
# 1. the default folder proposed, another typed (Japanese, with a blank), the desktop box
#    kept ticked: files and times in place, the uninstall key, both application keys with
#    the [reg]/[regall] values after marker expansion, the INI values, the three Start
#    menu shortcuts and the desktop shortcut read back, no access batch in %TEMP%;
# 2. the folder of the first install proposed again (IsInst/InstTo), the desktop box
#    unticked: no desktop shortcut.
. "$E2E_LIB"
. "$(dirname "$0")/install_lib.sh"
e2e_init

sample_package "$SCRATCH/sample"
media_separate "$SCRATCH/sample/instdat.arc"
stage=$SCRATCH/sample/sample-game
# A bin folder beside setup.exe: without FORCEINSTALL nothing is taken from it (the tree
# comparison below would see its game program or its uninstaller).
mkdir -p "$MEDIA/bin"
printf 'not the packed program\r\n' >"$MEDIA/bin/tsukikage.exe"
printf 'uninstaller\r\n' >"$MEDIA/bin/UnInst.exe"

title=$SAMPLE_TITLE
caption=$SAMPLE_CAPTION
app_key=$SAMPLE_KEY
uninstall_key=$(uninstall_key "$title")
dest_win='C:\ゲーム 試験\月影の譜'
dest=$(unix_path "$dest_win")
default_win='C:\Program Files\TALVEN\TsukikageSample'
clean_sample_install 'C:\ゲーム 試験'

drive_menu_install first "$dest_win" before=1 \
  "menu_lines=expect-buttons $IDC_MENU_BUTTON1=終了 $IDC_MENU_BUTTON2=お読みください $IDC_MENU_BUTTON3=インストール" \
  "dialog_lines=expect-text $IDC_PATH_EDIT \"$(q "$default_win")\"
expect-text $IDC_BROWSE 参照(&B)
expect-text 1 次へ
expect-text 2 ｷｬﾝｾﾙ" \
  "shortcut=expect-checked $IDC_CHECK 1;expect-text $IDC_CHECK デスクトップにショートカットを作成;click 1" \
  "end=expect-text $IDC_CHECK お読みください;expect-checked $IDC_CHECK 0"

# Every file of the game, with its content and its last-write time.
assert_installed_tree "$stage" "$dest"
[ "$TREE_FILES" -ge 5 ] || e2e_fail "only $TREE_FILES files in the sample game"
assert_no_file "$dest/UserAccountCheck.id" "write probe"

# Registry: uninstall entry (the command quoted), [reg] under HKCU, [regall] under HKLM.
answers=$(inspect \
  "reg	HKLM	$uninstall_key	DisplayName" \
  "reg	HKLM	$uninstall_key	UninstallString" \
  "reg	HKCU	$app_key	IsInst" \
  "reg	HKCU	$app_key	InstTo" \
  "reg	HKCU	$app_key	SaveFolder" \
  "reg	HKCU	$app_key	表示名" \
  "reg	HKLM	$app_key	InstallPath" \
  "reg	HKLM	$app_key	Disc" \
  "reg	HKLM	$app_key	Version" \
  "reg	HKLM	$app_key	IsInst" \
  "ini	C:\\windows\\tsukikage.ini	月影の譜	InstallPath" \
  "ini	C:\\windows\\tsukikage.ini	月影の譜	DataPath" \
  "ini	C:\\windows\\tsukikage.ini	月影の譜	Disc")
expected=$(printf '%s\n' \
  "$title" \
  "\"$dest_win\\UnInst.exe\"" \
  "1" \
  "$dest_win" \
  "$dest_win\\セーブ" \
  "月影の譜" \
  "$dest_win" \
  'E:\' \
  "1.00" \
  "<none>" \
  "$dest_win" \
  "$dest_win\\データ" \
  'E:\')
[ "$answers" = "$expected" ] || e2e_fail "registry and INI values:
$(diff <(echo "$expected") <(echo "$answers"))"

# Shortcuts in the all-users folders (Wine reports a Vista-or-later system by default).
links=$(inspect \
  "lnk	$group\\$title.LNK" \
  "lnk	$group\\$title お読みください.LNK" \
  "lnk	$group\\$title アンインストール.LNK" \
  "lnk	$desktop\\$title.LNK")
expected=$(printf '%s\n' \
  "$dest_win\\tsukikage.exe|$dest_win|TsukikageSample" \
  "$dest_win\\readme.txt|$dest_win|TsukikageSample" \
  "$dest_win\\UnInst.exe|$dest_win|TsukikageSample" \
  "$dest_win\\tsukikage.exe|$dest_win|TsukikageSample")
[ "$links" = "$expected" ] || e2e_fail "shortcuts:
$(diff <(echo "$expected") <(echo "$links"))"

# The grant runs in the process: no batch in %TEMP%.
assert_no_access_batch

# --- Second install: the earlier folder proposed, no desktop shortcut this time.
rm -f "$(unix_path "$desktop")/$title.LNK"
drive_menu_install second "$dest_win" proposed=1 "shortcut=check $IDC_CHECK 0;click 1"
assert_eq 0 "$(inspect_one "exists	$desktop\\$title.LNK")" "desktop shortcut with the box unticked"
assert_eq 1 "$(inspect_one "exists	$group\\$title.LNK")" "Start menu shortcut of the second install"

e2e_pass
