# What the elevated installer refuses, seen from the player's side:
# - an instdat.arc dropped beside an installer that carries its package is ignored;
# - folders that the system resolves to a drive root ("C:\.", "C:\x\..") or that are
#   the system's own (the Windows folder, Program Files) are refused with a message;
# - a folder holding another title's install.env is refused; one holding the player's
#   files is installed into only after a question (No leaves the files alone);
# - a link (reparse point) inside the folder stops the extraction before anything is
#   written through it;
# - a reinstall into a new folder is one click again, and no access batch is run; the uninstaller accepts the quoted entry and
#   the unquoted one of older installs.
. "$E2E_LIB"
. "$(dirname "$0")/install_lib.sh"
e2e_init

title='安全試験'
caption="$title スタートアップ"
app_key='Software\TALVEN_E2E\security'
uninstall_key=$(uninstall_key "$title")
make_game "$SCRATCH/game" "$title" "INSTREADME	お読みください" "REG_GLOBAL	TALVEN_E2E" "REG_LOCAL	security"
cp "$UNINST_EXE" "$SCRATCH/game/UnInst.exe"
pack_dir "$SCRATCH/game" "$SCRATCH/game.arc"
media_appended "$SCRATCH/game.arc"
# Another game's package dropped beside the downloaded installer.
make_game "$SCRATCH/dropped" '置かれた別物' "REG_GLOBAL	TALVEN_E2E" "REG_LOCAL	dropped"
pack_dir "$SCRATCH/dropped" "$MEDIA/instdat.arc"

base_win="$MEDIA_WIN\\dest"
base=$MEDIA/dest
mkdir -p "$base/other" "$base/mine" "$base/linked" "$base/elsewhere"
write_cp932 "$base/other/install.env" "TITLEBAR	別のゲーム"
printf 'my own notes\r\n' >"$base/mine/readme.txt"
printf 'placeholder\r\n' >"$base/linked/memo.txt"
ln -s "$base/elsewhere" "$base/linked/データ"
wine reg delete "HKLM\\$uninstall_key" /f >/dev/null 2>&1 || true
wine reg delete "HKCU\\$app_key" /f >/dev/null 2>&1 || true
trap 'status=$?; wine reg delete "HKLM\\$uninstall_key" /f >/dev/null 2>&1; (exit $status); e2e_cleanup' EXIT

# The menu is the carried package's ("置かれた別物" would be the dropped one's).
expect_drive start <<EOS
start $MEDIA_WIN\\setup.exe
wait-window class:#32770 "$caption" 30
EOS

# refused_folder LABEL TYPED TEXT [BUTTON]: the typed folder ends in the message TEXT.
refused_folder() {
  install_typed "$1" "$2"
  answer_box "$caption" "$3" "${4:-1}"
  answer_box "$caption" "$TEXT_ABORTED" 1
}
refused_folder root-dot 'C:\.' "$TEXT_ROOT" 4
refused_folder root-dot-drive 'C:.' "$TEXT_ROOT" 4
refused_folder root-parent 'C:\x\..' "$TEXT_ROOT" 4
refused_folder root-blank 'C:\ ' "$TEXT_ROOT" 4
text_system() { printf '[%s]はシステムのフォルダです。\\nこのフォルダそのものにはインストールできません。' "$1"; }
refused_folder windows 'C:\windows' "$(text_system 'C:\windows')"
refused_folder windows-dots 'C:\windows\system32\..' "$(text_system 'C:\windows')"
refused_folder program-files 'C:\Program Files' "$(text_system 'C:\Program Files')"

# Another title's folder: refused after the confirmation.
install_typed other "$base_win\\other"
answer_box "$caption" "[$base_win\\other]にインストールします" 6
answer_box "$caption" "[$base_win\\other]には、別のゲーム「別のゲーム」がインストールされています。\\n別のフォルダを指定して下さい。" 1
answer_box "$caption" "$TEXT_ABORTED" 1
assert_eq "install.env" "$(ls "$base/other")" "the other game's folder after the refusal"

# The player's own files: asked first; No leaves them.
install_typed mine "$base_win\\mine"
answer_box "$caption" "[$base_win\\mine]にインストールします" 6
answer_box "$caption" "$(text_has_files "$base_win\\mine")" 7
answer_box "$caption" "$TEXT_ABORTED" 1
assert_eq "my own notes" "$(tr -d '\r' <"$base/mine/readme.txt")" "the player's readme after No"
assert_eq "readme.txt" "$(ls "$base/mine")" "the player's folder after No"

# A link in the folder: Yes to the question, then the extraction stops at the link.
install_typed linked "$base_win\\linked"
answer_box "$caption" "[$base_win\\linked]にインストールします" 6
answer_box "$caption" "$(text_has_files "$base_win\\linked")" 6
text=$(inspect_one "box	$caption" | sed 's/\x01/\\n/g')
case $text in
  "インストール先にリンク（リパースポイント）があるため、書き込みを中止しました。\\n[$base_win\\linked\\データ"*) ;;
  *) e2e_fail "the message of a linked folder: $text" ;;
esac
# OK and the exit in one driver run: the program may end before a second run could attach.
expect_drive linked-exit <<EOS
attach setup.exe
wait-window class:#32770 "$caption" with:$BOX_TEXT 20
click 1
wait-exit -1 20
EOS
assert_empty "$(ls -A "$base/elsewhere")" "files written through the link"

# install_into LABEL FOLDER [ANSWER...]: a whole install into FOLDER from a new start:
# the confirmation, then each ANSWER (a button) to the next question, then the end.
install_into() {
  local label=$1 folder=$2 answer answers=()
  shift 2
  for answer; do answers+=("answer=$answer"); done
  drive_menu_install "$label" "$folder" "${answers[@]}" "shortcut=check $IDC_CHECK 0;click 1" wait=120
}

# A new folder, installed twice: the second time is one click as before.
install_into new-first "$base_win\\new"
install_into new-second "$base_win\\new"
assert_no_access_batch
# An existing folder with the player's files, after Yes: installed, its list untouched.
install_into mine-yes "$base_win\\mine" 6

# The entry names the uninstaller quoted; the uninstaller takes it, and the unquoted
# command of an older install too (it asks its question; No leaves everything).
assert_eq "\"$base_win\\mine\\UnInst.exe\"" "$(inspect_one "reg	HKLM	$uninstall_key	UninstallString")" \
  "the uninstall command"
for form in quoted unquoted; do
  [ $form = quoted ] || wine reg add "HKLM\\$uninstall_key" /v UninstallString /d "$base_win\\mine\\UnInst.exe" /f \
    >/dev/null 2>&1
  expect_drive "uninstall-$form" <<EOS
start "$(q "$base_win\\mine\\UnInst.exe")"
wait-window class:#32770 "" 20
expect-text $BOX_TEXT "「$title」をアンインストールします。よろしいですか？"
click 7
wait-exit -1 20
EOS
done
assert_file "$base/mine/UnInst.exe" "the uninstaller after No"

e2e_pass
