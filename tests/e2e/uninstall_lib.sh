# Helpers of the uninstaller's end-to-end tests (tests/e2e/test_uninstall_*.sh), sourced
# after lib.sh, install_lib.sh and e2e_init. $UNINST_EXE is the built UnInst.exe.
#
#   require_uninst                 fails the test when UnInst.exe is not built, and sets
#                                  the exit trap (uninstall_cleanup, then e2e_cleanup)
#   uninstall_cleanup              ends an UnInst.exe that a failed test left at a box
#   key_state KEY...               each registry key exported (its values and subkeys), or
#                                  "KEY absent"
#   wait_gone PATH                 waits (10 s) for the uninstaller's helper to remove PATH
#   q TEXT                         TEXT with its backslashes doubled, for quoted scenario
#                                  arguments
# Texts of the uninstaller, ready for a quoted scenario argument (\n for a line break,
# backslashes of paths doubled):
#   text_confirm TITLE, text_user_data, text_done TITLE [FOLDER NAME...],
#   text_no_record PATH, text_not_installed TITLE

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

q() { printf '%s' "$1" | sed 's/\\/\\\\/g'; }

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
