# Helpers of the tests that run the programs under another code page
# (tests/e2e/test_codepages_*.sh), sourced after lib.sh; it sources uninstall_lib.sh (and
# with it install_lib.sh) itself.
#
#   in_locale LOCALE CMD...        CMD with Wine under LOCALE (LC_ALL and LANG): Wine takes
#                                  the ANSI code page from it per process, in the same
#                                  prefix (ja_JP 932, en_US 1252, zh_CN 936, ko_KR 949);
#                                  the prefix is switched to LOCALE and back around it
#   acp_of LOCALE                  the code page Wine really gives a program under LOCALE
#   acp_of_program LOCALE CODE     the same for the probe built as the programs for CODE
#                                  are (65001: the UTF-8 manifest)
#   foreign_notice_lines COMMAND   driver lines: start COMMAND (UnInst.exe), see its
#                                  notice of a foreign code page and answer OK
#   text_foreign_notice            that notice's text, as a scenario takes it
#
# One game installed and removed under every code page, compared with the 932 run
# (install_lib.sh and uninstall_lib.sh come with this file):
#   codepage_matrix GAME_DIR DEST_WIN USER_QUESTION
#                                  GAME_DIR (an unpacked game with FORCEINSTALL set) packed
#                                  once; then for 932 (ja_JP), 1252 (en_US), 936 (zh_CN),
#                                  949 (ko_KR) and 65001 (the UTF-8 copies of both programs,
#                                  whose manifests ask for it): the code page checked with
#                                  the probe, a clean slate, an install into DEST_WIN from
#                                  the medium (no desktop shortcut question asked: the
#                                  desktop shortcut ticked), the world (cp_world) compared
#                                  with the 932 run's, the uninstall (USER_QUESTION 1: the
#                                  player-data question answered Yes), and the world
#                                  compared with the one before the install. Each code page
#                                  runs on after another one failed; the verdicts are
#                                  printed together and the test fails when any failed.
#   The game's names come from CP_TITLE, CP_GROUP, CP_GLOBAL, CP_INI and CP_EXE (its
#   EXENAME, game.exe when unset) set by the test.
#   cp_world DEST                  the install folder's tree with each file's MD5, the
#                                  application keys in both hives and the uninstall entry
#                                  (reg export), the INI file's bytes, the Start-menu group
#                                  and the desktop shortcut with their targets
. "$(dirname "${BASH_SOURCE[0]}")/uninstall_lib.sh"

in_locale() {
  local locale=$1 status=0
  shift
  # Wine rewrites the prefix's font substitutes on every change of code page: the rig puts
  # its own back, there and on the way back to 932 (scripts/wine-rig.sh locale).
  bash "$REPO/scripts/wine-rig.sh" locale "$RIG_DIR" "$locale" || e2e_fail "cannot switch the prefix to $locale"
  LC_ALL=$locale LANG=$locale "$@" || status=$?
  bash "$REPO/scripts/wine-rig.sh" locale "$RIG_DIR" ja_JP.UTF-8 || e2e_fail "cannot switch the prefix back to ja_JP.UTF-8"
  return $status
}

acp_of() {
  acp_of_program "$1" 0
}

# acp_of_program LOCALE CODE: the same for a program built for CODE (65001: the probe with
# the UTF-8 copies' manifest), else for a plain one.
acp_of_program() {
  local probe=${ACP_PROBE_EXE:-}
  [ "$2" != 65001 ] || probe=${ACP_PROBE_UTF8_EXE:-}
  [ -n "$probe" ] && [ -f "$probe" ] || e2e_fail "the probe for $2 is not built: '$probe'"
  in_locale "$1" wine "$probe" </dev/null 2>/dev/null | tr -d '\r' | sed -n 's/^acp=\([0-9]*\).*/\1/p'
}

text_foreign_notice='この Windows の文字コード（ANSI コードページ）は日本語ではありません。\nインストールとアンインストールは日本語の Windows と同じく正しく行われますが、ゲームを動かすには、Windows の地域の設定で「Unicode 対応ではないプログラムの言語」を日本語にする（またはロケールを切り替えるツールを使う）必要があります。\n\nThis Windows does not use the Japanese code page. Installing and uninstalling work correctly, but the game needs the Japanese locale settings (language for non-Unicode programs) or a locale tool to run.'

foreign_notice_lines() {
  printf 'start "%s"\nwait-window class:#32770 "" 20\nexpect-text 65535 "%s"\nclick 1\nwait-gone 10\n' \
    "$(q "$1")" "$text_foreign_notice"
}

# Code page, locale, setup.exe and UnInst.exe of each run; 932 first, as the reference.
codepage_runs() {
  printf '%s\n' "932 ja_JP.UTF-8 $SETUP_EXE $UNINST_EXE" \
    "1252 en_US.UTF-8 $SETUP_EXE $UNINST_EXE" \
    "936 zh_CN.UTF-8 $SETUP_EXE $UNINST_EXE" \
    "949 ko_KR.UTF-8 $SETUP_EXE $UNINST_EXE" \
    "65001 ja_JP.UTF-8 $SETUP_UTF8_EXE $UNINST_UTF8_EXE"
}

cp_world() {
  local dest=$1 programs desktop link
  programs=$(inspect_one "folder	$CSIDL_COMMON_PROGRAMS")
  desktop=$(inspect_one "folder	$CSIDL_COMMON_DESKTOPDIRECTORY")
  echo "== files"
  if [ -d "$dest" ]; then
    (cd "$dest" && find . -mindepth 1 -printf '%y %p\n' | sort)
    # UnInst.exe is the run's own (the 65001 runs carry the UTF-8 copy): compared with it.
    (cd "$dest" && find . -type f ! -name UnInst.exe -exec md5sum {} + | sort -k2)
    cmp -s "$dest/UnInst.exe" "$MEDIA/bin/UnInst.exe" && echo "UnInst.exe: the medium's" || echo "UnInst.exe: not the medium's"
  else
    echo "no install folder"
  fi
  key_state "HKCU\\Software\\$CP_GLOBAL" "HKLM\\Software\\$CP_GLOBAL" \
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VoDod$CP_TITLE"
  echo "== ini"
  local ini
  ini=$(unix_path 'C:\windows')/$CP_INI
  if [ -f "$ini" ]; then iconv -f CP932 -t UTF-8 <"$ini" | tr -d '\r'; else echo absent; fi
  echo "== start menu"
  (cd "$(unix_path "$programs")" && find "./$CP_GROUP" -mindepth 1 2>/dev/null | sort) || true
  while IFS= read -r link; do
    # A name written through another code page may have no CP932 form to ask about.
    if printf '%s' "$link" | iconv -f UTF-8 -t CP932 >/dev/null 2>&1; then
      echo "$link -> $(inspect_one "lnk	$programs\\${link//\//\\}")"
    else
      echo "$link -> (a name with no CP932 form)"
    fi
  done < <(cd "$(unix_path "$programs")" && find "$CP_GROUP" -iname '*.lnk' 2>/dev/null | sort)
  echo "== desktop"
  if [ -e "$(unix_path "$desktop")/$CP_TITLE.LNK" ]; then
    echo "$CP_TITLE.LNK -> $(inspect_one "lnk	$desktop\\$CP_TITLE.LNK")"
  else
    echo "no desktop shortcut"
  fi
}

cp_clean_slate() {
  local dest=$1 programs desktop
  programs=$(inspect_one "folder	$CSIDL_COMMON_PROGRAMS")
  desktop=$(inspect_one "folder	$CSIDL_COMMON_DESKTOPDIRECTORY")
  printf 'kill-image setup.exe\nkill-image UnInst.exe\n' | wine "$UIDRIVER_EXE" - >/dev/null 2>&1 || true
  rm -rf "$dest" "$(unix_path 'C:\windows')/$CP_INI" "$(unix_path "$programs")/$CP_GROUP"
  rm -f "$(unix_path "$desktop")/$CP_TITLE.LNK"
  wine reg delete "HKCU\\Software\\$CP_GLOBAL" /f >/dev/null 2>&1 || true
  wine reg delete "HKLM\\Software\\$CP_GLOBAL" /f >/dev/null 2>&1 || true
  wine reg delete "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VoDod$CP_TITLE" /f >/dev/null 2>&1 || true
}

# cp_notice_shown CP SCENARIO PROGRAM: away from 932 the scenario's log shows the notice
# (printed as "box: ..." by dismiss-box); a missing one is noted in $SCRATCH/missing-notice.
cp_notice_shown() {
  [ "$1" != 932 ] || return 0
  grep -aq '  box: ' "$SCRATCH/$2.log" || echo "$3 showed no notice of the code page" >>"$SCRATCH/missing-notice"
}

# One code page's run (in a subshell: a failed step ends this run only).
cp_one_run() {
  local cp=$1 locale=$2 setup=$3 uninst=$4 dest_win=$5 user_question=$6 dest acp notice=
  dest=$(unix_path "$dest_win")
  acp=$(acp_of_program "$locale" "$cp")
  assert_eq "$cp" "$acp" "the code page Wine gives under $locale"
  # Away from 932 both programs first tell the player once: a box before anything else,
  # answered when it comes; one missing is reported after the run has gone as far as it can.
  [ "$cp" = 932 ] || notice='dismiss-box 8'
  rm -f "$SCRATCH/missing-notice"
  cp_clean_slate "$dest"
  cp_world "$dest" >"$SCRATCH/world.$cp.before"
  cp "$setup" "$MEDIA/setup.exe"
  cp "$uninst" "$MEDIA/bin/UnInst.exe"
  local drove=0
  in_locale "$locale" drive "install-$cp" <<EOS || drove=$?
start $MEDIA_WIN\\setup.exe
$notice
wait-window class:#32770 "$CAPTION_SETUP" 15
set-text 1000 "$(q "$dest_win")"
click 1
wait-window class:#32770 "" with:65535 30
click 6
wait-gone 10
$(install_end_lines "check 1007 1;click 1" "" 40)
EOS
  cp_notice_shown "$cp" "install-$cp" setup.exe
  [ $drove -eq 0 ] || e2e_fail "scenario install-$cp failed: $(grep -a -m1 'FAIL line' "$SCRATCH/install-$cp.log" | tr -d '\r')$(cat "$SCRATCH/missing-notice" 2>/dev/null | sed 's/^/; /')"
  cp_world "$dest" >"$SCRATCH/world.$cp.installed"
  if [ "$cp" != 932 ]; then
    diff "$SCRATCH/world.932.installed" "$SCRATCH/world.$cp.installed" >"$SCRATCH/world.$cp.diff" ||
      e2e_fail "installed under $cp unlike under 932: $(head -n 12 "$SCRATCH/world.$cp.diff")"
  fi
  local user=
  [ "$user_question" = 1 ] && user='wait-window class:#32770 "" 20
click 6
wait-gone 10'
  in_locale "$locale" drive "uninstall-$cp" <<EOS || drove=$?
start "$(q "$dest_win\\UnInst.exe")"
$notice
wait-window class:#32770 "" 20
click 6
wait-gone 10
$user
wait-window class:#32770 "" 60
click 1
wait-exit 0 20
EOS
  cp_notice_shown "$cp" "uninstall-$cp" UnInst.exe
  [ $drove -eq 0 ] || e2e_fail "scenario uninstall-$cp failed: $(grep -a -m1 'FAIL line' "$SCRATCH/uninstall-$cp.log" | tr -d '\r')"
  wait_gone "$dest"
  cp_world "$dest" >"$SCRATCH/world.$cp.after"
  diff "$SCRATCH/world.$cp.before" "$SCRATCH/world.$cp.after" >"$SCRATCH/world.$cp.left" ||
    e2e_fail "left behind under $cp: $(head -n 12 "$SCRATCH/world.$cp.left")"
  [ ! -f "$SCRATCH/missing-notice" ] || e2e_fail "$(tr '\n' ' ' <"$SCRATCH/missing-notice")"
}

codepage_matrix() {
  local game=$1 dest_win=$2 user_question=$3 cp locale setup uninst failed= status
  local v
  for v in SETUP_UTF8_EXE UNINST_UTF8_EXE ACP_PROBE_EXE ACP_PROBE_UTF8_EXE; do
    [ -f "${!v:-}" ] || e2e_fail "$v is not built: '${!v:-}' (tests/e2e/codepages.cmake)"
  done
  pack_dir "$game" "$SCRATCH/game.arc"
  media_separate "$SCRATCH/game.arc"
  mkdir -p "$MEDIA/bin"
  printf 'the real game program\r\n' >"$MEDIA/bin/${CP_EXE:-game.exe}"
  : >"$SCRATCH/verdicts"
  while read -r cp locale setup uninst; do
    # Not in a || list: the run keeps set -e inside its subshell.
    set +e
    (cp_one_run "$cp" "$locale" "$setup" "$uninst" "$dest_win" "$user_question") >"$SCRATCH/run.$cp.log" 2>&1
    status=$?
    set -e
    if [ $status -eq 0 ]; then
      echo "code page $cp: same as 932, nothing left" >>"$SCRATCH/verdicts"
    else
      echo "code page $cp: FAILED: $(grep -a '^FAIL' "$SCRATCH/run.$cp.log" | tail -n 1 | cut -c1-400)" >>"$SCRATCH/verdicts"
      failed="$failed $cp"
      # The reference must stand: nothing else can be compared without it.
      [ "$cp" != 932 ] || { cat "$SCRATCH/run.$cp.log"; e2e_fail "the 932 run failed"; }
    fi
  done < <(codepage_runs)
  cp_clean_slate "$(unix_path "$dest_win")"
  cat "$SCRATCH/verdicts"
  [ -z "$failed" ] || e2e_fail "failed under code page(s)$failed (logs: $SCRATCH/run.*.log)"
}

# demo_shots LOCALE DIR: the demo's scenario (examples/sample-game/demo.drv) under LOCALE,
# its screenshots in DIR. Away from 932 the notice that comes first is shot too
# (00-notice.bmp) and answered. The sample medium must be in $MEDIA.
demo_shots() {
  local locale=$1 dir=$2 scenario=$2/demo.drv status=0
  mkdir -p "$dir"
  if [ "$(acp_of "$locale")" = 932 ]; then
    cp "$REPO/examples/sample-game/demo.drv" "$scenario"
  else
    # The notice comes when the install button is pressed, before the destination dialog.
    awk '{ print } /^click 1002$/ {
      print "wait-window class:#32770 with:65535 20"; print "sleep 500"
      print "screenshot 00-notice.bmp"; print "click 1"; print "wait-gone 10" }' \
      "$REPO/examples/sample-game/demo.drv" >"$scenario"
  fi
  (cd "$dir" && DEMO_SHOTS=$(win_path "$dir") in_locale "$locale" wine "$UIDRIVER_EXE" "$(win_path "$scenario")") \
    >"$dir/demo.log" 2>&1 || status=$?
  tr -d '\r' <"$dir/demo.log" | sed "s/^/  [demo $locale] /"
  return $status
}
