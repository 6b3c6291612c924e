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
remove_stale_work_folders

sample_package "$SCRATCH/sample"
media_separate "$SCRATCH/sample/instdat.arc"
stage=$SCRATCH/sample/sample-game
# A bin folder beside setup.exe: without FORCEINSTALL nothing is taken from it (the tree
# comparison below would see its game program or its uninstaller).
mkdir -p "$MEDIA/bin"
printf 'not the packed program\r\n' >"$MEDIA/bin/tsukikage.exe"
printf 'uninstaller\r\n' >"$MEDIA/bin/UnInst.exe"

title='月影の譜 サンプルゲーム'
caption="$title スタートアップ"
app_key='Software\TALVEN\TsukikageSample'
uninstall_key="SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VoDod$title"
dest_win='C:\ゲーム 試験\月影の譜'
dest=$(unix_path "$dest_win")
default_win='C:\Program Files\TALVEN\TsukikageSample'
# Inside double quotes of a scenario a doubled backslash is one backslash.
q() { printf '%s' "$1" | sed 's/\\/\\\\/g'; }

programs=$(inspect_one "folder	$CSIDL_COMMON_PROGRAMS")
desktop=$(inspect_one "folder	$CSIDL_COMMON_DESKTOPDIRECTORY")
group="$programs\\TALVEN\\$title"
windows_ini=$(unix_path 'C:\windows')/tsukikage.ini

# A clean slate: no earlier install of this game in the prefix.
rm -rf "$(unix_path 'C:\ゲーム 試験')" "$windows_ini"
rm -f "$(unix_path "$desktop")/$title.LNK"
rm -rf "$(unix_path "$group")"
wine reg delete "HKCU\\$app_key" /f >/dev/null 2>&1 || true
wine reg delete "HKLM\\$app_key" /f >/dev/null 2>&1 || true
wine reg delete "HKLM\\$uninstall_key" /f >/dev/null 2>&1 || true
snapshot_work_folders "$SCRATCH/before"

expect_drive first <<EOS
start $MEDIA_WIN\\setup.exe
wait-window class:#32770 "$caption" 30
expect-buttons 1000=終了 1001=お読みください 1002=インストール
click 1002
wait-window class:#32770 "$CAPTION_SETUP" 30
expect-text 1000 "$(q "$default_win")"
expect-text 1021 参照(&B)
expect-text 1 次へ
expect-text 2 ｷｬﾝｾﾙ
set-text 1000 "$(q "$dest_win")"
click 1
EOS
answer_box "$caption" "[$dest_win]にインストールします" 6
expect_drive first-end <<EOS
attach setup.exe
$(install_end_lines "expect-checked 1007 1;expect-text 1007 デスクトップにショートカットを作成;click 1" \
  "expect-text 1007 お読みください;expect-checked 1007 0" 180)
EOS
assert_empty "$(new_work_folders "$SCRATCH/before")" "work folder left behind"

# Every file of the game, with its content and its last-write time.
[ -d "$dest" ] || e2e_fail "no install folder $dest"
diff -r "$stage" "$dest" >"$SCRATCH/diff.log" 2>&1 || e2e_fail "installed tree differs: $(head -n 5 "$SCRATCH/diff.log")"
count=0
while IFS= read -r -d '' f; do
  rel=${f#"$stage"/}
  assert_eq "$(stat -c %Y "$f")" "$(stat -c %Y "$dest/$rel")" "last-write time of $rel"
  count=$((count + 1))
done < <(find "$stage" -type f -print0)
[ "$count" -ge 5 ] || e2e_fail "only $count files in the sample game"
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
expect_drive second <<EOS
start $MEDIA_WIN\\setup.exe
wait-window class:#32770 "$caption" 30
click 1002
wait-window class:#32770 "$CAPTION_SETUP" 30
expect-text 1000 "$(q "$dest_win")"
click 1
EOS
answer_box "$caption" "[$dest_win]にインストールします" 6
expect_drive second-end <<EOS
attach setup.exe
$(install_end_lines "check 1007 0;click 1" "" 180)
EOS
assert_eq 0 "$(inspect_one "exists	$desktop\\$title.LNK")" "desktop shortcut with the box unticked"
assert_eq 1 "$(inspect_one "exists	$group\\$title.LNK")" "Start menu shortcut of the second install"

e2e_pass
