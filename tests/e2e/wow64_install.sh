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
remove_stale_work_folders

[ "${WINEARCH:-}" = win64 ] || e2e_fail "this test needs the 64-bit prefix of the wow64 rig"
sample_package "$SCRATCH/sample"
media_separate "$SCRATCH/sample/instdat.arc"
stage=$SCRATCH/sample/sample-game

title='月影の譜 サンプルゲーム'
caption="$title スタートアップ"
app_key='Software\TALVEN\TsukikageSample'
wow_key='Software\WOW6432Node\TALVEN\TsukikageSample'
uninstall_key="SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VoDod$title"
wow_uninstall_key="SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VoDod$title"
dest_win='C:\Program Files\TALVEN\TsukikageSample'
dest=$(unix_path "$dest_win")
x86_dest=$(unix_path 'C:\Program Files (x86)')/TALVEN
q() { printf '%s' "$1" | sed 's/\\/\\\\/g'; }

[ -d "$(unix_path 'C:\windows\syswow64')" ] || e2e_fail "the prefix has no SysWOW64: not a 64-bit prefix"
programs=$(inspect_one "folder	$CSIDL_COMMON_PROGRAMS")
desktop=$(inspect_one "folder	$CSIDL_COMMON_DESKTOPDIRECTORY")
group="$programs\\TALVEN\\$title"
rm -rf "$dest" "$x86_dest" "$(unix_path 'C:\windows')/tsukikage.ini" "$(unix_path "$group")"
rm -f "$(unix_path "$desktop")/$title.LNK"
wine reg delete "HKCU\\$app_key" /f >/dev/null 2>&1 || true
wine reg delete "HKLM\\$app_key" /f /reg:32 >/dev/null 2>&1 || true
wine reg delete "HKLM\\$uninstall_key" /f /reg:32 >/dev/null 2>&1 || true

expect_drive install <<EOS
start $MEDIA_WIN\\setup.exe
wait-window class:#32770 "$caption" 30
click 1002
wait-window class:#32770 "$CAPTION_SETUP" 30
expect-text 1000 "$(q "$dest_win")"
click 1
wait-window class:#32770 "$caption" with:65535 20
expect-text 65535 "[$(q "$dest_win")]にインストールします"
click 6
$(install_end_lines "expect-checked 1007 1;click 1" "" 180)
EOS

diff -r "$stage" "$dest" >"$SCRATCH/diff.log" 2>&1 || e2e_fail "installed tree differs: $(head -n 5 "$SCRATCH/diff.log")"
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
