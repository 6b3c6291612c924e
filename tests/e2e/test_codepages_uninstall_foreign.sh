# An install made on a Japanese system (code page 932) removed by an uninstaller run under
# code page 1252 (en_US), as a player who changed the system's locale meanwhile, and again
# by the UTF-8 copy of the uninstaller (65001, the system's UTF-8 option): it says
# once, readably, that the system's code page is not Japanese, and then removes exactly
# what it removes on a Japanese system: the entry, both application keys, the INI values
# and file, the Start-menu group, the desktop shortcut and the whole install folder,
# whose names hold ー, 譜 and ア (no best-fit look-alike may stand in for them).
. "$E2E_LIB"
. "$(dirname "$0")/codepage_lib.sh"
e2e_init
require_uninst
rm -f "$RIG_TEMP"/UnInst_*.exe

# CODE LOCALE UNINSTALLER: one install under 932 and its removal under CODE.
while read -r code locale uninst; do
  e2e_log "-- removal under code page $code"
  install_sample_for_uninstall 'C:\異なるロケール 試験\月影の譜'
  cp "$uninst" "$dest/UnInst.exe"
  [ "$(acp_of_program "$locale" "$code")" = "$code" ] || e2e_fail "no code page $code under $locale"
  command=$(uninstall_command "$uninstall_key")
  # The boxes after the notice are the shared message boxes: their texts are checked by
  # e2e.uninstall_menu under 932; here the answers are what counts.
  in_locale "$locale" expect_drive "uninstall-$code" <<EOS
$(foreign_notice_lines "$command")
wait-window class:#32770 "" 20
click 6
wait-gone 10
wait-window class:#32770 "" 20
click 6
wait-gone 10
wait-window class:#32770 "" 60
click 1
wait-exit 0 20
EOS
  wait_gone "$dest"
  world >"$SCRATCH/world.after"
  diff "$SCRATCH/world.before" "$SCRATCH/world.after" >"$SCRATCH/world.diff" ||
    e2e_fail "not as before the install under $code: $(cat "$SCRATCH/world.diff")"
done <<RUNS
1252 en_US.UTF-8 $UNINST_EXE
65001 ja_JP.UTF-8 $UNINST_UTF8_EXE
RUNS
rm -rf "$(unix_path 'C:\異なるロケール 試験')"

e2e_pass
