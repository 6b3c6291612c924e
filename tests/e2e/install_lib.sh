# Helpers of the install end-to-end tests (tests/e2e/test_install_*.sh), sourced after
# lib.sh and e2e_init.
#
#   sample_package OUTDIR [UNINST]   the sample game packed into OUTDIR/instdat.arc (with
#                                    UNINST packed as its UnInst.exe)
#   build_inspect                    checks that the inspection program ($INSPECT_EXE,
#                                    tests/e2e/examine.c) is built
#   assert_batch_gone                the access batch ran and removed itself
#   inspect LINE...                  asks it questions, one answer line each (UTF-8):
#       reg<TAB>HKLM|HKCU<TAB>KEY<TAB>VALUE      a REG_SZ value, or <none>
#       reg64<TAB>HKLM|HKCU<TAB>KEY<TAB>VALUE    the same in the registry's 64-bit view
#       lnk<TAB>FILE                             "path|working folder|description" of a
#                                                shortcut read back with IShellLinkA
#       ini<TAB>FILE<TAB>SECTION<TAB>KEY         GetPrivateProfileStringA, or <none>
#       folder<TAB>CSIDL                         a special folder's path
#       exists<TAB>PATH                          1 or 0
#       box<TAB>CAPTION                          waits (20 s) for a message box with that
#                                                caption and prints its text, or <none>
#       press<TAB>CAPTION<TAB>ID                 clicks button ID of that message box
#       lock<TAB>KEY                             creates HKLM\KEY and gives it an empty
#                                                access list: opening it with all access
#                                                is then refused, as for a user without
#                                                administrator rights
#       unlock<TAB>KEY                           gives it back a null access list and
#                                                deletes it
#   A message box of the menu has the menu's own caption, and the driver's wait-window
#   takes the first window of a caption, which is the menu; the box is found here by
#   its text control 65535 instead. A scenario that leaves setup.exe at such a box ends
#   there, the box is read and answered here, and the next scenario attaches again.
#   The questions and answers travel through files in CP932, so Japanese names reach
#   the Win32 calls exactly as the installer's own bytes would.
#
# Text constants of the install sequence are below, written as in a scenario.

TEXT_ABORTED='インストールを中止しました'
TEXT_NO_ADMIN='インストールにはAdministrator権限が必要です。'
TEXT_BAD_FOLDER='インストール先フォルダは無効又は作成できません\nインストールにはAdministrator権限が必要です。'
TEXT_NOT_WRITABLE='指定された場所には書き込み出来ません。\nインストールにはAdministrator権限が必要です。'
TEXT_NETWORK='ネットワークドライブには対応していません。\nローカルドライブを選択して下さい。'
TEXT_ROOT='ルートにはインストールできません'
CAPTION_SETUP='インストール先のフォルダの指定'

sample_package() {
  require_talven_pack
  bash "$REPO/examples/sample-game/build.sh" "$1" "$TALVEN_PACK" ${2:+"$2"} >"$SCRATCH/sample-build.log" 2>&1 ||
    e2e_fail "the sample game does not build: $(tail -n 20 "$SCRATCH/sample-build.log")"
  [ -f "$1/instdat.arc" ] || e2e_fail "build.sh made no $1/instdat.arc"
}

build_inspect() {
  [ -n "${INSPECT_EXE:-}" ] && [ -f "$INSPECT_EXE" ] ||
    e2e_fail "inspect.exe is not built: '${INSPECT_EXE:-}' (the e2e_inspect target of the Windows build)"
}

inspect() {
  build_inspect
  local req=$MEDIA/inspect.req out=$MEDIA/inspect.out
  printf '%s\n' "$@" | iconv -f UTF-8 -t CP932 >"$req" || e2e_fail "inspect: a question is not CP932"
  rm -f "$out"
  wine "$INSPECT_EXE" "$(win_path "$req")" "$(win_path "$out")" >/dev/null 2>&1 ||
    e2e_fail "inspect.exe failed"
  iconv -f CP932 -t UTF-8 <"$out"
}

# answer_box CAPTION TEXT BUTTON: the message box with CAPTION shows TEXT (\n for a line
# break, as in a scenario); BUTTON (1 OK, 2 Cancel, 4 Retry, 6 Yes, 7 No) is clicked.
answer_box() {
  local text
  text=$(inspect_one "box	$1" | sed 's/\x01/\\n/g')
  assert_eq "$2" "$text" "message box text"
  assert_eq ok "$(inspect_one "press	$1	$3")" "button $3 of the message box"
}

# assert_batch_gone: the access batch ran in the background and removed itself (10 s).
assert_batch_gone() {
  local i
  for i in $(seq 50); do
    [ -e "$RIG_TEMP/Kelvanrothe_fullaccess.bat" ] || break
    sleep 0.2
  done
  assert_no_file "$RIG_TEMP/Kelvanrothe_fullaccess.bat" "access batch"
}

# inspect_one LINE: the one answer, for assert_eq.
inspect_one() {
  inspect "$1" | head -n 1
}

# The Start menu folders: 23 all users' programs, 2 the user's, 25/16 the desktops.
CSIDL_COMMON_PROGRAMS=23
CSIDL_PROGRAMS=2
CSIDL_COMMON_DESKTOPDIRECTORY=25
CSIDL_DESKTOPDIRECTORY=16

# menu_install_sample STAGE: installs the sample game from $MEDIA/setup.exe through its
# menu into C:\媒体 試験\月影の譜 and checks the tree and each file's time against STAGE.
menu_install_sample() {
  local title caption dest_win dest f rel
  title='月影の譜 サンプルゲーム'
  caption="$title スタートアップ"
  dest_win='C:\媒体 試験\月影の譜'
  dest=$(unix_path "$dest_win")
  rm -rf "$(unix_path 'C:\媒体 試験')"
  q() { printf '%s' "$1" | sed 's/\\/\\\\/g'; }
  snapshot_work_folders "$SCRATCH/before"

  expect_drive install <<EOS
start $MEDIA_WIN\\setup.exe
wait-window class:#32770 "$caption" 30
expect-buttons 1000=終了 1001=DirectXインストール 1002=お読みください 1003=インストール
click 1003
wait-window class:#32770 "$CAPTION_SETUP" 30
set-text 1000 "$(q "$dest_win")"
click 1
EOS
  answer_box "$caption" "[$dest_win]にインストールします" 6
  expect_drive install-end <<EOS
attach setup.exe
$(install_end_lines "click 2" "" 180)
EOS
  assert_empty "$(new_work_folders "$SCRATCH/before")" "work folder left behind"
  [ -d "$dest" ] || e2e_fail "no install folder $dest"
  diff -r "$1" "$dest" >"$SCRATCH/diff.log" 2>&1 || e2e_fail "installed tree differs: $(head -n 5 "$SCRATCH/diff.log")"
  while IFS= read -r -d '' f; do
    rel=${f#"$1"/}
    assert_eq "$(stat -c %Y "$f")" "$(stat -c %Y "$dest/$rel")" "last-write time of $rel"
  done < <(find "$1" -type f -print0)
}
