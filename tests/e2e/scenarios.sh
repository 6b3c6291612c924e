# Driver lines of scenarios that several end-to-end tests (and docs/screenshots.sh) play:
# sourced by tests/e2e/lib.sh and by docs/screenshots.sh. Each function prints lines for
# uidriver.exe, to be put into a scenario's here-document with $(...).

CAPTION_SHORTCUT='ショートカットの作成'
CAPTION_END='インストール終了'

# install_end_lines SHORTCUT END [WAIT]: the last steps of an install. The shortcut
# question (waited for up to WAIT seconds, 120 by default, as the extraction runs before
# it) gets the driver commands SHORTCUT, the end dialog gets END and then OK, and the
# installer must then end with exit code 0. SHORTCUT and END are commands separated by
# ";" ("check 1007 0;click 1"), run in the dialog's order: they answer the dialog too.
install_end_lines() {
  local shortcut=$1 end=$2 wait=${3:-120} line
  printf 'wait-window class:#32770 "%s" %s\n' "$CAPTION_SHORTCUT" "$wait"
  IFS=';' read -ra line <<<"$shortcut"
  printf '%s\n' "${line[@]}"
  printf 'wait-window class:#32770 "%s" 30\n' "$CAPTION_END"
  if [ -n "$end" ]; then
    IFS=';' read -ra line <<<"$end"
    printf '%s\n' "${line[@]}"
  fi
  printf 'click 1\nwait-exit 0 30\n'
}
