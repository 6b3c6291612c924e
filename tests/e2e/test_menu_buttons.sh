# The main menu's buttons: the sets and labels for the INSTREADME cases, the DirectX
# button with a DirectX folder beside setup.exe (and not with a plain file of that name),
# Enter and Esc doing nothing, and exit and the close box ending with 0 and removing the
# work folder that the menu ran in.
. "$E2E_LIB"
. "$(dirname "$0")/menu_lib.sh"
e2e_init

title="メニュー試験"
caption="$title スタートアップ"

# --- INSTREADME absent: exit and install only; Enter and Esc do nothing; exit ends with 0.
menu_package plain "$title"
media_separate "$SCRATCH/plain.arc"
snapshot_work_folders "$SCRATCH/before-plain"
menu_exit absent "$caption" "expect-buttons $IDC_MENU_BUTTON1=終了 $IDC_MENU_BUTTON2=インストール
$(for i in 3 4 5 6 7 8 9; do echo "expect-absent $((IDC_MENU_BUTTON1 + i - 1))"; done)
key enter
sleep 1000
key esc
sleep 1000
expect-running
expect-window-count 1
expect-buttons $IDC_MENU_BUTTON1=終了 $IDC_MENU_BUTTON2=インストール"
assert_empty "$(new_work_folders "$SCRATCH/before-plain")" "work folders left after the exit button"

# --- INSTREADME set (with | for a space): the readme button sits between exit and install.
menu_package readme "$title" "INSTREADME	はじめに|読む"
media_separate "$SCRATCH/readme.arc"
menu_exit readme-set "$caption" "expect-buttons $IDC_MENU_BUTTON1=終了 \"$IDC_MENU_BUTTON2=はじめに 読む\" $IDC_MENU_BUTTON3=インストール
expect-absent $IDC_MENU_BUTTON4
expect-absent $IDC_MENU_BUTTON9"

# --- An INSTREADME value that begins with "-" hides the readme button like the default.
menu_package dash "$title" "INSTREADME	-説明書"
media_separate "$SCRATCH/dash.arc"
menu_exit readme-dash "$caption" "expect-buttons $IDC_MENU_BUTTON1=終了 $IDC_MENU_BUTTON2=インストール
expect-absent $IDC_MENU_BUTTON3"

# --- A DirectX folder beside setup.exe: the DirectX button directly above exit, readme and
# install pushed up. The medium's folder name holds characters whose second byte is 0x5C
# (ソ, 表), so finding the executable's folder must step over double-byte characters.
# The button starts DirectX\dxsetup.exe from that folder, without waiting; the menu stays.
disc=$MEDIA/ソフト表示
mkdir -p "$disc/DirectX"
cp "$SETUP_EXE" "$disc/setup.exe"
cp "$SCRATCH/readme.arc" "$disc/instdat.arc"
menu_probe "$disc/DirectX/dxsetup.exe"
disc_win=$(win_path "$disc")
export PROBE_REPORT="$MEDIA_WIN\\dxsetup-report.txt"
rm -f "$MEDIA/dxsetup-report.txt"
menu_exit directx "$caption" "expect-buttons $IDC_MENU_BUTTON1=終了 $IDC_MENU_BUTTON2=DirectXインストール \"$IDC_MENU_BUTTON3=はじめに 読む\" $IDC_MENU_BUTTON4=インストール
expect-absent $IDC_MENU_BUTTON5
expect-absent $IDC_MENU_BUTTON9
click $IDC_MENU_BUTTON2
sleep 2000
expect-running
expect-window-count 1" "$disc_win\\setup.exe"
report=$MEDIA/dxsetup-report.txt
assert_file "$report" "the report of the started dxsetup.exe"
assert_eq "$disc_win\\DirectX" "$(probe_field "$report" cwd)" "current directory of dxsetup.exe"
assert_eq "\"$disc_win\\DirectX\\dxsetup.exe\"" "$(probe_field "$report" cmdline)" "command line of dxsetup.exe"

# --- "DirectX" as a plain file is not a DirectX folder: no button.
rm -rf "$disc/DirectX"
printf 'not a folder\r\n' >"$disc/DirectX"
menu_exit directx-file "$caption" "expect-buttons $IDC_MENU_BUTTON1=終了 \"$IDC_MENU_BUTTON2=はじめに 読む\" $IDC_MENU_BUTTON3=インストール" "$disc_win\\setup.exe"

# --- The close box ends the menu with 0; the work folder it ran in (with the files of the
# start-up pass) is removed.
media_separate "$SCRATCH/readme.arc"
snapshot_work_folders "$SCRATCH/before-close"
cat >"$SCRATCH/close.drv" <<EOS
start $MEDIA_WIN\\setup.exe
wait-window class:#32770 "$caption"
sleep 3000
close
wait-exit 0
EOS
driver_in_background close "$SCRATCH/close.drv"
work=$(wait_new_work_folder "$SCRATCH/before-close") || e2e_fail "no work folder appeared"
sleep 1
for f in install.env insttscr.rct readme.txt; do
  assert_file "$RIG_TEMP/$work/$f" "$f in the work folder while the menu runs"
done
finish_driver close
assert_no_file "$RIG_TEMP/$work" "the work folder after the close box"
assert_empty "$(new_work_folders "$SCRATCH/before-close")" "work folders left after the close box"

e2e_pass
