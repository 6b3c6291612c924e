# FORCEINSTALL: no menu; the folder dialog comes at once. A second copy started meanwhile
# meets the mutex named after the caption ending in " インストール". The install copies
# the bin folder beside setup.exe over the extracted files (with their times) and ends
# with exit code 0 and no work folder; the readme ticked in the end dialog is opened
# with the shell from the install folder. A cancelled run ends with -1.
. "$E2E_LIB"
. "$(dirname "$0")/install_lib.sh"
. "$(dirname "$0")/menu_lib.sh"
e2e_init

title='即時導入'
readme='説明書.tvforce'
make_game "$SCRATCH/game" "$title" "FORCEINSTALL	1" "REG_GLOBAL	TALVEN_E2E" "REG_LOCAL	force" \
  "INSTREADME	説明を読む" "INSTREADMEFL	$readme"
write_cp932 "$SCRATCH/game/$readme" "即時導入の説明書"
# The readme's extension is opened by a probe that reports how it was started.
progid=TalvenE2E.ForceReadme
force_cleanup() {
  wine reg delete 'HKCR\.tvforce' /f >/dev/null 2>&1 || true
  wine reg delete "HKCR\\$progid" /f >/dev/null 2>&1 || true
}
trap 'status=$?; (force_cleanup); (exit $status); e2e_cleanup' EXIT
menu_probe "$MEDIA/probe.exe"
wine reg add 'HKCR\.tvforce' /ve /d "$progid" /f >/dev/null 2>&1 || e2e_fail "cannot register .tvforce"
wine reg add "HKCR\\$progid\\shell\\open\\command" /ve /d "\"$MEDIA_WIN\\probe.exe\" \"%1\"" /f >/dev/null 2>&1 ||
  e2e_fail "cannot register the probe"
export PROBE_REPORT="$MEDIA_WIN\\probe.report"
pack_dir "$SCRATCH/game" "$SCRATCH/game.arc"
media_separate "$SCRATCH/game.arc"
mkdir -p "$MEDIA/bin"
printf 'the real game program\r\n' >"$MEDIA/bin/game.exe"
printf 'uninstaller\r\n' >"$MEDIA/bin/UnInst.exe"
touch -d '2004-05-06 07:08:09' "$MEDIA/bin/game.exe"
dest_win="$MEDIA_WIN\\導入先"
dest=$MEDIA/導入先

snapshot_work_folders "$SCRATCH/before"
expect_drive first <<EOS
start $MEDIA_WIN\\setup.exe
wait-window class:#32770 "$CAPTION_SETUP" 30
expect-window-count 1
start $MEDIA_WIN\\setup.exe
wait-window class:#32770 "$title" 20
expect-text $BOX_TEXT "[ $title インストール ] は既に起動中です"
click 1
wait-exit 0 20
use 1
wait-window class:#32770 "$CAPTION_SETUP" 10
set-text $IDC_PATH_EDIT "$(q "$dest_win")"
click 1
EOS
# No menu: the boxes have no owner and an empty caption.
answer_box "" "[$dest_win]にインストールします" 6
expect_drive first-end <<EOS
attach setup.exe
$(install_end_lines "click 2" "expect-text $IDC_CHECK 説明を読む;expect-checked $IDC_CHECK 0;check $IDC_CHECK 1")
EOS
for i in $(seq 100); do [ -f "$MEDIA/probe.report" ] && break; sleep 0.2; done
assert_file "$MEDIA/probe.report" "report of the readme's program"
sleep 1
assert_eq "$dest_win" "$(probe_field "$MEDIA/probe.report" cwd)" "folder the readme was opened from"
case $(probe_field "$MEDIA/probe.report" arg1) in
  *"$readme") ;;
  *) e2e_fail "readme opened as '$(probe_field "$MEDIA/probe.report" arg1)'" ;;
esac
assert_same_file "$SCRATCH/game/$readme" "$MEDIA/probe.report.copy"
assert_empty "$(new_work_folders "$SCRATCH/before")" "work folder left behind"
assert_same_file "$MEDIA/bin/game.exe" "$dest/game.exe"
assert_same_file "$MEDIA/bin/UnInst.exe" "$dest/UnInst.exe"
assert_eq "$(stat -c %Y "$MEDIA/bin/game.exe")" "$(stat -c %Y "$dest/game.exe")" "time of the copied game program"
assert_same_file "$SCRATCH/game/readme.txt" "$dest/readme.txt"

# Cancel: -1 after the message.
# One scenario from the start to the exit: attaching after the answer could come too late.
expect_drive cancel <<EOS
start $MEDIA_WIN\\setup.exe
wait-window class:#32770 "$CAPTION_SETUP" 30
click 2
wait-window class:#32770 "" with:$BOX_TEXT 20
expect-text $BOX_TEXT "$TEXT_ABORTED"
click 1
wait-exit -1 20
EOS

e2e_pass
