# The uninstaller removes nothing outside the install folder it proved: settings that
# name another program's INI file, registry key or menu folder stop it before the
# question; names that only a best-fit conversion reads as "..\" (U+00A5, the yen sign,
# is 0x5C in code page 932) are left alone, in a removed folder and under a pattern; the
# folder swapped for a link while the question is open stops it; and the helper that
# removes the program starts only after the closing box.
. "$E2E_LIB"
. "$(dirname "$0")/uninstall_lib.sh"
e2e_init
require_uninst
rm -f "$RIG_TEMP"/UnInst_*.exe

title='安全の試験'
stopped='\nアンインストールを中止しました。何も削除していません。'
text_refused_setting() {
  printf 'アンインストールの記録の[%s]の値[%s]は、フォルダやドライブを含むため使えません。%s' "$1" "$(q "$2")" "$stopped"
}
fake_install "$MEDIA/game" "$title"
game=$FAKE_DIR

# --- Settings that reach outside: refused, and what they name is untouched.
write_cp932 "$MEDIA/other.ini" '[other]' 'key=value'
write_record "INI_FILE	$MEDIA_WIN\\other.ini" 'INI_SECTION	other' '[ini]' 'key=value' '-'
uninstall_refused ini-path "$(text_refused_setting INI_FILE "$MEDIA_WIN\\other.ini")"
grep -q 'key=value' "$MEDIA/other.ini" || e2e_fail "the other program's INI key went"

run_key='Software\Microsoft\Windows\CurrentVersion\Run'
wine reg add "HKLM\\$run_key" /v e2e_victim /d keep /f >/dev/null 2>&1 || e2e_fail "cannot add the Run value"
write_record 'REG_GLOBAL	Microsoft' "REG_LOCAL	Windows\\CurrentVersion\\Run" '[regall]' '"e2e_victim"="keep"' '-'
uninstall_refused reg-path "$(text_refused_setting REG_LOCAL 'Windows\CurrentVersion\Run')"
assert_eq keep "$(inspect_one "reg	HKLM	$run_key	e2e_victim")" "the machine's Run value"
wine reg delete "HKLM\\$run_key" /v e2e_victim /f >/dev/null 2>&1 || true

mkdir -p "$MEDIA/empty"
group="..\\..\\..\\..\\..\\e2e\\$E2E_NAME\\empty"
write_record "INST_GROUP	$group"
uninstall_refused group-path "$(text_refused_setting INST_GROUP "$group")"
[ -d "$MEDIA/empty" ] || e2e_fail "an empty folder outside the Start menu went"

# --- Names read back from the disk: "..¥..¥victim" inside a removed folder and under a
# [delfiles_user] pattern; the victims beside the install folder stay.
mkdir -p "$game/data/..¥..¥victim" "$game/save" "$MEDIA/victim"
printf 'inner\r\n' >"$game/data/..¥..¥victim/inner.txt"
printf 'data\r\n' >"$game/data/a.dat"
printf 'save\r\n' >"$game/save/slot.sav"
printf 'odd\r\n' >"$game/save/..¥..¥x.sav"
printf 'keep\r\n' >"$MEDIA/victim/keep.txt"
printf 'keep\r\n' >"$MEDIA/x.sav"
write_record '[delfiles]' 'data\' '-' '[delfiles_user]' 'save\*.sav' '-'
expect_drive names <<EOS
$(uninstall_questions "$FAKE_DIR_WIN\\UnInst.exe" "$title" "click 6")
expect-text-has $BOX_TEXT "「$title」のアンインストールが終了しました。"
EOS
# The removal is done while the closing box is open.
assert_file "$MEDIA/victim/keep.txt" "the folder beside the install folder"
assert_file "$MEDIA/x.sav" "the file beside the install folder"
assert_no_file "$game/data/a.dat" "the game's data"
assert_no_file "$game/save/slot.sav" "the save matching the pattern"
assert_file "$game/data/..¥..¥victim/inner.txt" "the unconvertible folder's file (left, never followed)"
assert_file "$game/save/..¥..¥x.sav" "the unconvertible save (left)"
# The helper (and its copy in %TEMP%) is not there yet.
assert_empty "$(temp_copies)" "the helper's copy while the closing box is open"
assert_file "$game/UnInst.exe" "the program while its closing box is open"
expect_drive names-end <<EOS
attach UnInst.exe
wait-window class:#32770 "" 10
click 1
wait-exit 0 20
EOS
wait_gone "$game/UnInst.exe"

# --- The install folder swapped for a link while the question is open: nothing removed,
# neither in the folder the link leads to nor in the real one.
fake_install "$MEDIA/game2" "$title"
mkdir -p "$FAKE_DIR/data" "$MEDIA/elsewhere/data"
printf 'data\r\n' >"$FAKE_DIR/data/a.dat"
printf 'keep\r\n' >"$MEDIA/elsewhere/data/a.dat"
cp "$UNINST_EXE" "$MEDIA/elsewhere/UnInst.exe"
write_record '[delfiles]' 'data\' '-'
cp "$FAKE_DIR/install.env" "$MEDIA/elsewhere/install.env"
expect_drive swap-ask <<EOS
start "$(q "$FAKE_DIR_WIN\\UnInst.exe")"
wait-window class:#32770 "" 20
expect-text $BOX_TEXT "$(text_confirm "$title")"
EOS
mv "$FAKE_DIR" "$MEDIA/game2.real"
ln -s "$MEDIA/elsewhere" "$FAKE_DIR"
expect_drive swap-answer <<EOS
attach UnInst.exe
wait-window class:#32770 "" 10
click 6
wait-gone 10
wait-window class:#32770 "" 20
expect-text $BOX_TEXT "インストールしたフォルダ[$(q "$FAKE_DIR_WIN")]が、確認の間に別のものに置き換えられました。$stopped"
click 1
wait-exit -1 20
EOS
assert_file "$MEDIA/elsewhere/data/a.dat" "the file behind the link"
assert_file "$MEDIA/game2.real/data/a.dat" "the file in the real folder"
rm "$FAKE_DIR"

e2e_pass
