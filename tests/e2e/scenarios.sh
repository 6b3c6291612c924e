# Driver lines of scenarios that several end-to-end tests (and docs/screenshots.sh) play:
# sourced by tests/e2e/lib.sh and by docs/screenshots.sh. Each function prints lines for
# uidriver.exe, to be put into a scenario's here-document with $(...).

# The dialogs' control ids (IDC_*), generated from resources/resource_ids.h into the build
# folder; the menu's buttons count up from its first, as its template places them.
. "${E2E_IDS:?names e2e_ids.sh of the build folder (ctest sets it; see tests/e2e/lib.sh)}"
for i in 2 3 4 5 6 7 8; do eval "IDC_MENU_BUTTON$i=$((IDC_MENU_BUTTON1 + i - 1))"; done
# A message box's text: its control id is -1, which a 16-bit id holds as 0xFFFF.
BOX_TEXT=65535

CAPTION_SHORTCUT='ショートカットの作成'
CAPTION_END='インストール終了'

# install_end_lines SHORTCUT END [WAIT]: the last steps of an install. The shortcut
# question (waited for up to WAIT seconds, 120 by default, as the extraction runs before
# it) gets the driver commands SHORTCUT, the end dialog gets END and then OK, and the
# installer must then end with exit code 0. SHORTCUT and END are commands separated by
# ";" ("check $IDC_CHECK 0;click 1"), run in the dialog's order: they answer the dialog too.
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
