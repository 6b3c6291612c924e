# The menu's readme button opens the INSTREADMEFL file with the shell, relative to the
# work folder, without waiting; the menu stays usable. Seen three ways:
# - the default readme.txt with the prefix's own association (Wine's notepad starts);
# - a Japanese readme name under a private extension whose association runs a probe that
#   reports its argument and copies the opened file, compared with the packed one;
# - a readme name that is not in the package: nothing happens, the menu goes on.
. "$E2E_LIB"
. "$(dirname "$0")/menu_lib.sh"
e2e_init

title="説明書試験"
caption="$title スタートアップ"
progid=TalvenE2E.Readme
extension=.tvreadme

added_txt=0
menu_cleanup() {
  wine reg delete "HKCR\\$extension" /f >/dev/null 2>&1 || true
  wine reg delete "HKCR\\$progid" /f >/dev/null 2>&1 || true
  if [ "$added_txt" -eq 1 ]; then
    wine reg delete "HKCR\\.txt" /f >/dev/null 2>&1 || true
  fi
}
trap 'status=$?; menu_cleanup; (exit $status); e2e_cleanup' EXIT

# A Windows system opens .txt files with notepad. A fresh Wine 8 prefix has the txtfile
# class but no .txt key pointing at it, and then the shell answers with its "no program"
# box; give the prefix that key for the length of the test when it lacks it. (Wine reads
# classes from HKEY_CLASSES_ROOT only, not from the user's Software\Classes.)
if ! wine reg query "HKCR\\.txt" /ve >/dev/null 2>&1; then
  added_txt=1
  wine reg add "HKCR\\.txt" /ve /d txtfile /f >/dev/null 2>&1 || e2e_fail "cannot register the .txt association"
fi

# --- The default readme.txt: Wine's notepad is started for it and shows the packed text.
menu_package notepad "$title" "INSTREADME	お読みください"
media_separate "$SCRATCH/notepad.arc"
expect_drive notepad <<EOS
kill-image notepad.exe
start $MEDIA_WIN\\setup.exe
wait-window class:#32770 "$caption"
expect-buttons $IDC_MENU_BUTTON1=終了 $IDC_MENU_BUTTON2=お読みください $IDC_MENU_BUTTON3=インストール
click $IDC_MENU_BUTTON2
sleep 3000
expect-running
attach notepad.exe
wait-window class:Notepad
expect-caption "readme.txt - メモ帳"
expect-text-has 0 テスト用の説明書です。
kill-image notepad.exe
use 1
wait-window class:#32770 "$caption"
click $IDC_MENU_BUTTON1
wait-exit 0
EOS
# The first kill-image finds none, the second the notepad that the click started.
kills=$(tr -d '\r' <"$SCRATCH/notepad.log" | sed -n 's/^  \([0-9]*\) terminated$/\1/p' | tr '\n' ' ')
assert_eq "0 1 " "$kills" "notepad processes before and after the click"

# --- A Japanese readme name under a private extension, opened through its association.
menu_probe "$MEDIA/probe.exe"
probe_win="$MEDIA_WIN\\probe.exe"
wine reg add "HKCR\\$extension" /ve /d "$progid" /f >/dev/null 2>&1 ||
  e2e_fail "cannot register $extension"
wine reg add "HKCR\\$progid\\shell\\open\\command" /ve /d "\"$probe_win\" \"%1\"" /f \
  >/dev/null 2>&1 || e2e_fail "cannot register the open command of $progid"
readme_name="説明書.txt$extension"
menu_package probe "$title" "INSTREADME	説明を読む" "INSTREADMEFL	$readme_name"
write_cp932 "$SCRATCH/probe/$readme_name" "月影の譜の説明書" "この文章がそのまま開かれるはずです。"
pack_dir "$SCRATCH/probe" "$SCRATCH/probe.arc"
media_separate "$SCRATCH/probe.arc"
export PROBE_REPORT="$MEDIA_WIN\\readme-report.txt"
report=$MEDIA/readme-report.txt
rm -f "$report" "$report.copy"
snapshot_work_folders "$SCRATCH/before-probe"
cat >"$SCRATCH/probe.drv" <<EOS
start $MEDIA_WIN\\setup.exe
wait-window class:#32770 "$caption"
expect-buttons $IDC_MENU_BUTTON1=終了 $IDC_MENU_BUTTON2=説明を読む $IDC_MENU_BUTTON3=インストール
sleep 1500
click $IDC_MENU_BUTTON2
sleep 3000
expect-running
expect-window-count 1
click $IDC_MENU_BUTTON1
wait-exit 0
EOS
driver_in_background probe "$SCRATCH/probe.drv"
work=$(wait_new_work_folder "$SCRATCH/before-probe") || e2e_fail "no work folder appeared"
finish_driver probe
assert_file "$report" "the report of the readme association"
opened=$(probe_field "$report" arg1)
case $opened in
  *"\\$work\\$readme_name") ;;
  *) e2e_fail "the association got '$opened', expected the readme in the work folder $work" ;;
esac
assert_same_file "$SCRATCH/probe/$readme_name" "$report.copy"
assert_no_file "$RIG_TEMP/$work" "the work folder after exit"

# --- A readme named outside the work folder (absolute, or climbing out): nothing opens,
# though the file is there and its association would run.
write_cp932 "$MEDIA/outside$extension" "外のファイル"
for outside in "$MEDIA_WIN\\outside$extension" "..\\..\\..\\..\\..\\..\\..\\e2e\\$E2E_NAME\\outside$extension"; do
  menu_package outside "$title" "INSTREADME	説明を読む" "INSTREADMEFL	$outside"
  media_separate "$SCRATCH/outside.arc"
  rm -f "$report"
  menu_exit outside "$caption" "click $IDC_MENU_BUTTON2
sleep 2000
expect-window-count 1"
  assert_no_file "$report" "a report for the readme $outside outside the work folder"
done

# --- A readme that is not in the package: the menu itself reports nothing. The shell
# (called without the no-UI flag) shows its own box; once it is answered, the menu goes on
# with every button, and the busy flag has been cleared. While the shell's box is up the
# readme action still runs, so an exit click and a close request sent to the menu then
# are dropped, not queued.
menu_package missing "$title" "INSTREADME	説明を読む" "INSTREADMEFL	ない.txt"
media_separate "$SCRATCH/missing.arc"
rm -f "$report"
menu_exit missing "$caption" "click $IDC_MENU_BUTTON2
wait-window エラー 10
dump
wait-window class:#32770 \"$caption\" with:$IDC_MENU_BUTTON1
command $IDC_MENU_BUTTON1
wm-close
sleep 1500
expect-running
wait-window エラー
click 1
wait-gone
sleep 500
expect-window-count 1
wait-window class:#32770 \"$caption\"
expect-buttons $IDC_MENU_BUTTON1=終了 $IDC_MENU_BUTTON2=説明を読む $IDC_MENU_BUTTON3=インストール"
assert_no_file "$report" "a report for a readme that does not exist"

e2e_pass
