# Every stop of the install steps 1 to 4, from one menu that stays usable after each:
# the administrator probe refused, cancel in the folder dialog, a network path, a drive
# root with Retry, the answer No, a folder that cannot be created, a folder that cannot
# be written; each with its message and nothing installed. Last, a drive root answered
# with Cancel ends the program with -1.
. "$E2E_LIB"
. "$(dirname "$0")/install_lib.sh"
e2e_init

title='中止試験'
caption="$title スタートアップ"
app_key='Software\TALVEN_E2E\stops'
make_game "$SCRATCH/game" "$title" "INSTREADME	お読みください" "REG_GLOBAL	TALVEN_E2E" "REG_LOCAL	stops"
pack_dir "$SCRATCH/game" "$SCRATCH/game.arc"
media_separate "$SCRATCH/game.arc"

base_win="$MEDIA_WIN\\dest"
base=$MEDIA/dest
mkdir -p "$base"
printf 'a file, not a folder\r\n' >"$base/file"
mkdir -p "$base/unwritable/UserAccountCheck.id"  # the probe file's name is taken by a folder

stops_cleanup() {
  inspect "unlock	$app_key" >/dev/null 2>&1 || true
}
trap 'status=$?; (stops_cleanup); (exit $status); e2e_cleanup' EXIT

# Step 1: the application key under HKLM refuses all access.
wine reg delete "HKLM\\$app_key" /f >/dev/null 2>&1 || true
assert_eq ok "$(inspect_one "lock	$app_key")" "locking the application key"
snapshot_work_folders "$SCRATCH/before"
expect_drive admin <<EOS
clear-clipboard
start $MEDIA_WIN\\setup.exe
wait-window class:#32770 "$caption" 30
click $IDC_MENU_BUTTON3
EOS
answer_box "$caption" "$TEXT_NO_ADMIN" 1
assert_eq ok "$(inspect_one "unlock	$app_key")" "unlocking the application key"

# Step 2: cancel in the dialog; the key of step 1 is all that is left.
install_from_menu cancel "click 2"
answer_box "$caption" "$TEXT_ABORTED" 1
[ ! -e "$(unix_path 'C:\Program Files\E2E_install_stops')" ] || e2e_fail "cancel created the default folder"
wine reg query "HKLM\\$app_key" >/dev/null 2>&1 || e2e_fail "the probe's key is missing after the cancel"

# Network paths, written with slashes too.
install_typed network //server/share/game
answer_box "$caption" "$TEXT_NETWORK" 1
answer_box "$caption" "$TEXT_ABORTED" 1
expect_drive network-clipboard <<EOS
expect-clipboard "$TEXT_ABORTED"
EOS

# A drive root: Retry, then the install stops.
install_typed root-retry 'C:\'
answer_box "$caption" "$TEXT_ROOT" 4
answer_box "$caption" "$TEXT_ABORTED" 1

# A folder with no code page 932 form (the game could not open it): refused, the dialog
# stays open for another folder.
install_typed no-cp932 "$base_win\\한글"
answer_box "$caption" "[$base_win\\??]\\nこのフォルダ名には、日本語の文字コード（シフトJIS）で表せない文字が含まれています。\\nゲームがこのフォルダを開けないため、インストールできません。別のフォルダを指定して下さい。" 1
expect_drive no-cp932-still-open <<EOS
attach setup.exe
wait-window class:#32770 "$CAPTION_SETUP" 20
click 2
EOS
answer_box "$caption" "$TEXT_ABORTED" 1
assert_no_file "$base/한글" "folder without a code page 932 form"

# The answer No: nothing is created.
install_typed answer-no "$base_win\\いいえ"
answer_box "$caption" "[$base_win\\いいえ]にインストールします" 7
answer_box "$caption" "$TEXT_ABORTED" 1
assert_no_file "$base/いいえ" "folder after the answer No"

# Step 3: a level of the folder is a file.
install_typed chain "$base_win\\file\\sub"
answer_box "$caption" "[$base_win\\file\\sub]にインストールします" 6
answer_box "$caption" "$TEXT_BAD_FOLDER" 1

# Step 4: the probe file cannot be created.
install_typed probe "$base_win\\unwritable"
answer_box "$caption" "[$base_win\\unwritable]にインストールします" 6
answer_box "$caption" "$(text_has_files "$base_win\\unwritable")" 6
answer_box "$caption" "$TEXT_NOT_WRITABLE" 1
assert_eq "UserAccountCheck.id" "$(ls "$base/unwritable")" "nothing extracted after the probe failed"
assert_no_file "$RIG_TEMP/Kelvanrothe_fullaccess.bat" "access batch after a stop"

# A drive root answered with Cancel ends the program at once with -1.
# One scenario from the click to the exit: attaching after the answer could come too late.
install_typed root-cancel C: "wait-window class:#32770 \"$caption\" with:$BOX_TEXT 20
expect-text $BOX_TEXT \"$TEXT_ROOT\"
click 2
wait-exit -1 20"

e2e_pass
