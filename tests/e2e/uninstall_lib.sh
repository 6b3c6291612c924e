# Helpers of the uninstaller's end-to-end tests (tests/e2e/test_uninstall_*.sh), sourced
# after lib.sh; it sources install_lib.sh itself. $UNINST_EXE is the built UnInst.exe.
#
#   require_uninst                 fails the test when UnInst.exe is not built, and sets
#                                  the exit trap (uninstall_cleanup, then e2e_cleanup)
#   uninstall_cleanup              ends an UnInst.exe that a failed test left at a box
#   key_state KEY...               each registry key exported (its values and subkeys), or
#                                  "KEY absent"
#   wait_gone PATH                 waits (10 s) for the uninstaller's helper to remove PATH
#   temp_copies                    the helper's copies (UnInst_*.exe) now in %TEMP%
# An install made without the installer, as the uninstaller proves one (its record and
# the uninstall entry naming its program):
#   fake_install DIR TITLE         UnInst.exe copied into DIR (inside the prefix) and the
#                                  entry of TITLE naming it; sets FAKE_DIR, FAKE_DIR_WIN,
#                                  FAKE_TITLE, FAKE_KEY (the entry under HKLM); the exit
#                                  trap removes the entry
#   register_entry COMMAND         the fake install's UninstallString
#   write_record LINES...          FAKE_DIR/install.env: the title and the lines (CP932)
#   uninstall_refused LABEL TEXT   its UnInst.exe stops with the error TEXT and exit -1
#   uninstall_nothing LABEL EXE_WIN TEXT
#                                  EXE_WIN finds nothing to remove: the box TEXT, exit 1
#   files_left DIR                 what DIR holds, relative names sorted on one line
# The sample game installed for an uninstall (packed with UnInst.exe, from its menu, the
# desktop shortcut ticked), after a clean slate:
#   install_sample_for_uninstall DEST_WIN
#                                  sets title, caption, uninstall_key, dest_win, dest,
#                                  programs, desktop, windows_ini, stage; world (below)
#                                  saved before and after it in $SCRATCH/world.before and
#                                  world.installed
#   world                          the uninstall entries, the application keys, the INI
#                                  file, the Start menu and the desktop, as text
# Scenario lines:
#   uninstall_questions COMMAND TITLE [USER_STEP]
#                                  start COMMAND, answer Yes to the question, answer the
#                                  player-data question with USER_STEP ("click 6", "key
#                                  enter") when given, and wait for the closing box
# Texts of the uninstaller, ready for a quoted scenario argument (\n for a line break,
# backslashes of paths doubled):
#   text_confirm TITLE, text_user_data, text_done TITLE [FOLDER NAME...],
#   text_no_record PATH, text_not_installed TITLE

. "$(dirname "${BASH_SOURCE[0]}")/install_lib.sh"

require_uninst() {
  [ -n "${UNINST_EXE:-}" ] && [ -f "$UNINST_EXE" ] || e2e_fail "UnInst.exe is not built: '${UNINST_EXE:-}'"
  trap 'status=$?; uninstall_cleanup; (exit $status); e2e_cleanup' EXIT
}

uninstall_cleanup() {
  printf 'kill-image UnInst.exe\n' | wine "$UIDRIVER_EXE" - >/dev/null 2>&1 || true
}

key_state() {
  local key out=$SCRATCH/key-export.reg
  for key in "$@"; do
    rm -f "$out"
    if wine reg export "$key" "$(win_path "$out")" /y >/dev/null 2>&1 && [ -f "$out" ]; then
      echo "== $key"
      iconv -f UTF-16LE -t UTF-8 <"$out" 2>/dev/null | tr -d '\r' | grep -v '^Windows Registry Editor' || true
    else
      echo "== $key absent"
    fi
  done
}

wait_gone() {
  local i
  for i in $(seq 100); do
    [ -e "$1" ] || return 0
    sleep 0.1
  done
  e2e_fail "still there after the uninstaller ended: $1"
}


uninstall_questions() {
  printf 'start "%s"\nwait-window class:#32770 "" 20\nexpect-text %s "%s"\nclick 6\nwait-gone 10\n' \
    "$(q "$1")" "$BOX_TEXT" "$(text_confirm "$2")"
  [ -z "${3:-}" ] ||
    printf 'wait-window class:#32770 "" 20\nexpect-text %s "%s"\n%s\nwait-gone 10\n' "$BOX_TEXT" "$text_user_data" "$3"
  printf 'wait-window class:#32770 "" 60\n'
}

temp_copies() { (cd "$RIG_TEMP" && ls UnInst_*.exe 2>/dev/null) || true; }

fake_install() {
  FAKE_DIR=$1
  FAKE_TITLE=$2
  FAKE_DIR_WIN=$(win_path "$FAKE_DIR")
  FAKE_KEY="SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VoDod$FAKE_TITLE"
  mkdir -p "$FAKE_DIR"
  cp "$UNINST_EXE" "$FAKE_DIR/UnInst.exe"
  trap 'status=$?; uninstall_cleanup; wine reg delete "HKLM\\$FAKE_KEY" /f >/dev/null 2>&1; (exit $status); e2e_cleanup' EXIT
  register_entry "$FAKE_DIR_WIN\\UnInst.exe"
}

register_entry() {
  wine reg add "HKLM\\$FAKE_KEY" /v UninstallString /d "$1" /f >/dev/null 2>&1 || e2e_fail "cannot add the uninstall entry"
}

write_record() {
  write_cp932 "$FAKE_DIR/install.env" "TITLEBAR	$FAKE_TITLE" "$@"
}

uninstall_refused() {
  expect_drive "$1" <<EOS
start "$(q "$FAKE_DIR_WIN\\UnInst.exe")"
wait-window class:#32770 "" 20
expect-text $BOX_TEXT "$2"
expect-buttons 1=OK
click 1
wait-exit -1 20
EOS
}

uninstall_nothing() {
  expect_drive "$1" <<EOS
start "$(q "$2")"
wait-window class:#32770 "" 20
expect-text $BOX_TEXT "$3"
click 1
wait-exit 1 20
EOS
}

files_left() {
  (cd "$1" && find . -mindepth 1 | sed 's|^\./||' | sort | tr '\n' ' ' | sed 's/ $//')
}

text_confirm() { printf '「%s」をアンインストールします。よろしいですか？' "$1"; }
text_user_data='セーブデータなど、遊んで作られたデータも削除しますか？\n［いいえ］を選ぶと残します。'
text_done() {
  local title=$1
  printf '「%s」のアンインストールが終了しました。' "$title"
  [ $# -gt 1 ] || return 0
  printf '\\n\\n次のものは削除していません（フォルダ[%s]）。' "$(q "$2")"
  shift 2
  local name
  for name in "$@"; do printf '\\n  %s' "$(q "$name")"; done
}
text_no_record() { printf 'アンインストールの記録[%s]が見つかりません。\\n削除するものはありません。' "$(q "$1")"; }
text_not_installed() { printf '「%s」はインストールされていません。\\n削除するものはありません。' "$1"; }

install_sample_for_uninstall() {
  sample_package "$SCRATCH/sample" "$UNINST_EXE"
  media_separate "$SCRATCH/sample/instdat.arc"
  stage=$SCRATCH/sample/sample-game
  title=$SAMPLE_TITLE
  caption=$SAMPLE_CAPTION
  uninstall_key=$(uninstall_key "$title")
  dest_win=$1
  dest=$(unix_path "$dest_win")
  windows_ini=$(unix_path 'C:\windows')/tsukikage.ini
  # No earlier install of this game (nor another under the same keys).
  clean_sample_install "${dest_win%\\*}"
  world >"$SCRATCH/world.before"

  drive_menu_install install "$dest_win" "shortcut=expect-checked $IDC_CHECK 1;click 1"
  assert_same_file "$UNINST_EXE" "$dest/UnInst.exe"
  assert_file "$dest/install.env" "the uninstaller's record"
  assert_eq 1 "$(inspect_one "exists	$desktop\\$title.LNK")" "desktop shortcut after the install"

  world >"$SCRATCH/world.installed"
  cmp -s "$SCRATCH/world.before" "$SCRATCH/world.installed" && e2e_fail "the install changed none of the places compared"
  return 0
}

world() {
  key_state 'HKCU\Software\TALVEN' 'HKLM\Software\TALVEN' 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall'
  echo "ini: $( [ -e "$windows_ini" ] && md5sum <"$windows_ini" || echo absent)"
  echo "start menu: $(cd "$(unix_path "$programs")" && find . -maxdepth 3 | sort | tr '\n' ' ')"
  echo "desktop: $(cd "$(unix_path "$desktop")" && find . | sort | tr '\n' ' ')"
}
