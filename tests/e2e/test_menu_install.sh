# The menu's install button around run_install:
# - while the install runs (its destination dialog is up) the menu drops an exit command
#   and a close request; a cancelled install returns to a menu whose buttons all work;
# - a completed install of the sample game closes the menu, ends with 0 and removes the
#   work folder;
# - a WM_QUIT posted while the package is being extracted ends the process at once with
#   the posted code, leaving the work folder in place.
. "$E2E_LIB"
. "$(dirname "$0")/install_lib.sh"
. "$(dirname "$0")/menu_lib.sh"
e2e_init
require_talven_pack

# cancel_to_menu: driver lines: cancel in the folder dialog, OK to the message, and the
# menu is back.
cancel_to_menu() {
  printf '%s\n' "wait-window インストール先のフォルダの指定" "click 2" wait-gone \
    "wait-window class:#32770 \"$caption\" with:$BOX_TEXT" "wait-text $BOX_TEXT インストールを中止しました" \
    "click 1" wait-gone "wait-window class:#32770 \"$caption\" with:$IDC_MENU_BUTTON1"
}

# --- Commands dropped while busy; cancel returns to the menu.
title="導入試験"
caption="$title スタートアップ"
menu_package cancel "$title"
media_separate "$SCRATCH/cancel.arc"
snapshot_work_folders "$SCRATCH/before-cancel"
expect_drive busy-cancel <<EOS
start $MEDIA_WIN\\setup.exe
wait-window class:#32770 "$caption"
click $IDC_MENU_BUTTON2
wait-window インストール先のフォルダの指定
wait-window class:#32770 "$caption" with:$IDC_MENU_BUTTON1
command $IDC_MENU_BUTTON1
wm-close
sleep 1500
expect-running
$(cancel_to_menu)
expect-window-count 1
expect-buttons $IDC_MENU_BUTTON1=終了 $IDC_MENU_BUTTON2=インストール
click $IDC_MENU_BUTTON2
$(cancel_to_menu)
click $IDC_MENU_BUTTON1
wait-exit 0
EOS
assert_empty "$(new_work_folders "$SCRATCH/before-cancel")" "work folders left after exit"

# --- A completed install of the sample game ends the menu with 0.
sample_package "$SCRATCH/sample"
media_separate "$SCRATCH/sample/instdat.arc"
dest=$MEDIA/導入先
rm -rf "$dest"
drive_menu_install install "$(win_path "$dest")" menu="$SAMPLE_CAPTION" before=1 \
  "menu_lines=expect-buttons $IDC_MENU_BUTTON1=終了 $IDC_MENU_BUTTON2=お読みください $IDC_MENU_BUTTON3=インストール" \
  "shortcut=check $IDC_CHECK 0;click 1" "end=check $IDC_CHECK 0" wait=120
for f in install.env readme.txt "データ/音楽/曲01.dat" "ソフト/能力表.csv"; do
  assert_same_file "$SCRATCH/sample/sample-game/$f" "$dest/$f"
done

# --- WM_QUIT during the extraction: a package of many small files keeps the two-bar
# dialog up for a while (the pump runs after every file).
menu_package quit "$title"
mkdir -p "$SCRATCH/quit/多数"
for i in $(seq 1 2500); do
  printf 'file %d of the quit test\r\n' "$i" >"$SCRATCH/quit/多数/f$i.dat"
done
pack_dir "$SCRATCH/quit" "$SCRATCH/quit.arc"
media_separate "$SCRATCH/quit.arc"
quit_dest=$MEDIA/終了先
quit_dest_win=$(win_path "$quit_dest")
rm -rf "$quit_dest"
snapshot_work_folders "$SCRATCH/before-quit"
expect_drive quit <<EOS
timeout 60
start $MEDIA_WIN\\setup.exe
wait-window class:#32770 "$caption"
click $IDC_MENU_BUTTON2
wait-window インストール先のフォルダの指定
set-text $IDC_PATH_EDIT $quit_dest_win
click 1
wait-gone
wait-window class:#32770 "$caption" with:$BOX_TEXT 30
wait-text $BOX_TEXT [$quit_dest_win]にインストールします
click 6
wait-window ファイルのコピー中...
post-quit 7
wait-exit 7
EOS
left=$(new_work_folders "$SCRATCH/before-quit")
[ -n "$left" ] || e2e_fail "the work folder should stay after a quit message"
for f in $left; do rm -rf "${RIG_TEMP:?}/$f"; done
# The quit came before the end of the package: not every file was written.
# (When the quit comes before the extraction reaches the folder, there is no folder: 0.)
written=$(find "$quit_dest/多数" -type f 2>/dev/null | wc -l || true)
e2e_log "  $written of 2500 files written before the quit"
[ "$written" -lt 2500 ] || e2e_fail "all 2500 files were extracted before the quit took effect"

e2e_pass
