# Helpers of the install end-to-end tests (tests/e2e/test_install_*.sh), sourced after
# lib.sh and e2e_init.
#
#   sample_package OUTDIR [UNINST]   the sample game packed into OUTDIR/instdat.arc (with
#                                    UNINST packed as its UnInst.exe)
#   install_sample_from_menu STAGE DEST_WIN BUTTONS
#                                    the sample game from $MEDIA's setup.exe: the menu
#                                    (with BUTTONS, as expect-buttons takes them), its
#                                    install button (the last of BUTTONS), DEST_WIN, the end; the installed tree
#                                    must equal STAGE, times included
#   drive_menu_install LABEL DEST_WIN [OPTION...]
#                                    a whole install from a new start of setup.exe (see
#                                    below)
#   assert_installed_tree STAGE DEST the installed tree equals STAGE, times included
#   clean_install TITLE KEY GROUP INI [FOLDER_WIN...]
#   clean_sample_install [FOLDER_WIN...]
#                                    no earlier install in the prefix (see below)
#   build_inspect                    checks that the inspection program ($INSPECT_EXE,
#                                    tests/e2e/examine.c) is built
#   assert_no_access_batch           no access batch in %TEMP%
#   install_from_menu LABEL LINES    the menu's install button, then the folder dialog
#   install_typed LABEL FOLDER_WIN [LINES]   the same with FOLDER_WIN typed and OK
#   uninstall_command KEY            the entry's command without its quotes
#   inspect LINE...                  asks it questions, one answer line each (UTF-8):
#       reg<TAB>HKLM|HKCU<TAB>KEY<TAB>VALUE      a REG_SZ value, or <none>
#       reg64<TAB>HKLM|HKCU<TAB>KEY<TAB>VALUE    the same in the registry's 64-bit view
#       lnk<TAB>FILE                             "path|working folder|description" of a
#                                                shortcut read back with IShellLinkA
#       ini<TAB>FILE<TAB>SECTION<TAB>KEY         GetPrivateProfileStringA, or <none>
#       folder<TAB>CSIDL                         a special folder's path
#       exists<TAB>PATH                          1 or 0
#   A message box of the menu has the menu's own caption, and the driver's wait-window
#   takes the first window of a caption, which is the menu; the box is found here by
#   its text control ($BOX_TEXT) instead. A scenario that leaves setup.exe at such a box ends
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
# The question before installing into a folder that holds files of its own.
text_has_files() { printf '[%s]には既にファイルがあります。\\n同じ名前のファイルは上書きされます。\\nこのフォルダにインストールしますか？' "$1"; }

sample_package() {
  require_talven_pack
  bash "$REPO/examples/sample-game/build.sh" "$1" "$TALVEN_PACK" ${2:+"$2"} >"$SCRATCH/sample-build.log" 2>&1 ||
    e2e_fail "the sample game does not build: $(tail -n 20 "$SCRATCH/sample-build.log")"
  [ -f "$1/instdat.arc" ] || e2e_fail "build.sh made no $1/instdat.arc"
}

install_sample_from_menu() {
  local buttons=$3 install
  install=${buttons##* }
  rm -rf "$(unix_path "$2")"
  drive_menu_install install "$2" menu="$SAMPLE_CAPTION" "menu_lines=expect-buttons $buttons" \
    button="${install%%=*}" shortcut="click 2" before=1
  assert_installed_tree "$1" "$(unix_path "$2")"
}

# drive_menu_install LABEL DEST_WIN [OPTION...]: start setup.exe, press the menu's install
# button, install into DEST_WIN (typed into the folder dialog), answer Yes to the
# confirmation and go through the end (driver reports LABEL and LABEL-end). Options:
#   menu=CAPTION        the menu's caption ($caption by default); empty: FORCEINSTALL, the
#                       folder dialog comes first and the boxes have no owner
#   exe=PATH_WIN        the setup.exe to start ($MEDIA_WIN\setup.exe)
#   button=ID           the install button (the menu's third)
#   menu_lines=LINES    driver lines on the menu, before the click
#   dialog_lines=LINES  driver lines in the folder dialog, before the folder is typed
#   proposed=1          type nothing: the dialog must propose DEST_WIN
#   answer=BUTTON       the answer to the question about files already there (repeatable)
#   shortcut=, end=, wait=   install_end_lines' SHORTCUT, END and WAIT ("click 1", "", 180)
#   before=1            no work folder may be left (a snapshot is taken first)
drive_menu_install() {
  local label=$1 dest_win=$2 opt menu=${caption-} exe="$MEDIA_WIN\\setup.exe" button=$IDC_MENU_BUTTON3
  local menu_lines= dialog_lines= proposed= shortcut="click 1" end= wait=180 before= answers=() answer folder
  shift 2
  for opt; do
    case $opt in
      menu=*) menu=${opt#*=} ;;
      exe=*) exe=${opt#*=} ;;
      button=*) button=${opt#*=} ;;
      menu_lines=*) menu_lines=${opt#*=} ;;
      dialog_lines=*) dialog_lines=${opt#*=} ;;
      proposed=*) proposed=${opt#*=} ;;
      answer=*) answers+=("${opt#*=}") ;;
      shortcut=*) shortcut=${opt#*=} ;;
      end=*) end=${opt#*=} ;;
      wait=*) wait=${opt#*=} ;;
      before=*) before=${opt#*=} ;;
      *) e2e_fail "drive_menu_install: unknown option $opt" ;;
    esac
  done
  folder="$IDC_PATH_EDIT \"$(q "$dest_win")\""
  [ -z "$before" ] || snapshot_work_folders "$SCRATCH/before"
  expect_drive "$label" <<EOS
start $exe
$([ -z "$menu" ] || printf 'wait-window class:#32770 "%s" 30\n%s\nclick %s\n' "$menu" "$menu_lines" "$button")
wait-window class:#32770 "$CAPTION_SETUP" 30
$dialog_lines
$([ -n "$proposed" ] && echo "expect-text $folder" || echo "set-text $folder")
click 1
EOS
  answer_box "$menu" "[$dest_win]にインストールします" 6
  for answer in "${answers[@]}"; do answer_box "$menu" "$(text_has_files "$dest_win")" "$answer"; done
  expect_drive "$label-end" <<EOS
attach setup.exe
$(install_end_lines "$shortcut" "$end" "$wait")
EOS
  [ -z "$before" ] || assert_empty "$(new_work_folders "$SCRATCH/before")" "work folder left behind"
}

# assert_installed_tree STAGE DEST: every file of STAGE in DEST with its content and its
# last-write time; TREE_FILES is how many there are.
assert_installed_tree() {
  local stage=$1 dest=$2 f rel
  [ -d "$dest" ] || e2e_fail "no install folder $dest"
  diff -r "$stage" "$dest" >"$SCRATCH/diff.log" 2>&1 || e2e_fail "installed tree differs: $(head -n 5 "$SCRATCH/diff.log")"
  TREE_FILES=0
  while IFS= read -r -d '' f; do
    rel=${f#"$stage"/}
    assert_eq "$(stat -c %Y "$f")" "$(stat -c %Y "$dest/$rel")" "last-write time of $rel"
    TREE_FILES=$((TREE_FILES + 1))
  done < <(find "$stage" -type f -print0)
}

# clean_install TITLE KEY GROUP INI [FOLDER_WIN...]: no earlier install of TITLE in the
# prefix: the registry key KEY (Software\...) in HKCU and in both views of HKLM, TITLE's
# uninstall entry, the Start-menu folder GROUP and TITLE's desktop shortcut for all users
# and for the user, the INI file INI in the Windows folder and the FOLDERs. Sets
# programs, desktop (all users') and user_programs, user_desktop (the user's folders).
clean_install() {
  local title=$1 key=$2 group=$3 ini=$4 view folders f
  shift 4
  folders=$(inspect "folder	$CSIDL_COMMON_PROGRAMS" "folder	$CSIDL_COMMON_DESKTOPDIRECTORY" \
    "folder	$CSIDL_PROGRAMS" "folder	$CSIDL_DESKTOPDIRECTORY")
  { read -r programs; read -r desktop; read -r user_programs; read -r user_desktop; } <<<"$folders"
  for view in 32 64; do
    wine reg delete "HKLM\\$key" /f /reg:$view >/dev/null 2>&1 || true
    wine reg delete "HKLM\\$(uninstall_key "$title")" /f /reg:$view >/dev/null 2>&1 || true
  done
  wine reg delete "HKCU\\$key" /f >/dev/null 2>&1 || true
  rm -rf "$(unix_path "$programs")/$group" "$(unix_path "$user_programs")/$group" "$(unix_path 'C:\windows')/$ini"
  rm -f "$(unix_path "$desktop")/$title.LNK" "$(unix_path "$user_desktop")/$title.LNK"
  for f in "$@"; do rm -rf "$(unix_path "$f")"; done
}

# The sample game (examples/sample-game) and its places.
SAMPLE_TITLE='月影の譜 サンプルゲーム'
SAMPLE_CAPTION="$SAMPLE_TITLE スタートアップ"
SAMPLE_KEY='Software\TALVEN\TsukikageSample'

# clean_sample_install [FOLDER_WIN...]: clean_install of the sample game (and of any
# other under the maker's keys and Start-menu folder); sets group, its Start-menu group.
clean_sample_install() {
  clean_install "$SAMPLE_TITLE" 'Software\TALVEN' TALVEN tsukikage.ini "$@"
  group="$programs\\TALVEN\\$SAMPLE_TITLE"
}

# uninstall_key TITLE: the uninstall entry's key under HKLM.
uninstall_key() {
  printf 'SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VoDod%s' "$1"
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

# assert_no_access_batch: the old grant's batch is nowhere in %TEMP%. (The access lists
# themselves are checked by the win.SecurityAccess tests: Wine keeps no list on files.)
assert_no_access_batch() {
  assert_no_file "$RIG_TEMP/Kelvanrothe_fullaccess.bat" "access batch"
}

# install_from_menu LABEL LINES: the menu of $caption is back and its install button opens
# the folder dialog; the driver lines LINES follow.
install_from_menu() {
  expect_drive "$1" <<EOS
attach setup.exe
wait-window class:#32770 "$caption" 20
expect-enabled $IDC_MENU_BUTTON3 1
click $IDC_MENU_BUTTON3
wait-window class:#32770 "$CAPTION_SETUP" 20
$2
EOS
}

# install_typed LABEL FOLDER_WIN [LINES]: install_from_menu with FOLDER_WIN typed and
# the dialog's OK, then LINES.
install_typed() {
  install_from_menu "$1" "set-text $IDC_PATH_EDIT \"$(q "$2")\"
click 1${3:+
$3}"
}

# uninstall_command KEY: the UninstallString of the uninstall entry KEY (under HKLM)
# without the quotes the installer writes around it, as the driver's start takes it.
uninstall_command() {
  local command
  command=$(inspect_one "reg	HKLM	$1	UninstallString")
  command=${command#\"}
  printf '%s' "${command%\"}"
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
