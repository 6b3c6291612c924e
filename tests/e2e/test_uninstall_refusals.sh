# The uninstaller stops before removing anything when it cannot prove what is the game's:
# a section of its record left open, an uninstall entry that names another folder (the
# install folder moved by hand), a [delfiles] line that leads out of the folder; and a No
# to its first question (while a second copy is turned away). Each stop leaves every
# file, the entry and the record in place.
. "$E2E_LIB"
. "$(dirname "$0")/uninstall_lib.sh"
e2e_init
require_uninst

title='拒否の試験'
game=$MEDIA/game
fake_install "$game" "$title"
game_win=$FAKE_DIR_WIN
mkdir -p "$game/data"
printf 'game\r\n' >"$game/game.exe"
printf 'data\r\n' >"$game/data/a.dat"
printf 'not the game'"'"'s\r\n' >"$MEDIA/outside.txt"

# refused LABEL TEXT: the run shows the error TEXT and ends with -1; nothing is removed.
refused() {
  uninstall_refused "$1" "$2"
  local f
  for f in UnInst.exe install.env game.exe data/a.dat; do assert_file "$game/$f" "$1: $f"; done
  assert_file "$MEDIA/outside.txt" "$1: the file beside the folder"
  [ "$(inspect_one "reg	HKLM	$FAKE_KEY	UninstallString")" != "<none>" ] || e2e_fail "$1: the uninstall entry went"
}

stopped='\nアンインストールを中止しました。何も削除していません。'

write_record '[delfiles]' 'game.exe' 'data\'
refused open-section "[設定.env]の[delfiles]が終了していません$stopped"

write_record '[delfiles]' 'game.exe' 'data\' '-' '[delfiles_user]' '..\outside.txt' '-'
refused outside-line "アンインストールの記録の行[$(q '..\outside.txt')]は、インストール先の外を指すか、使えない名前です。$stopped"

write_record '[delfiles]' 'game.exe' 'data\' '-'
register_entry 'C:\移動前\game\UnInst.exe'
refused moved "インストールしたフォルダ[$(q 'C:\移動前\game')]と、このプログラムのフォルダ[$(q "$game_win")]が違います。\nフォルダが移動された可能性があります。$stopped"

# A quoted command names the same program; a second copy meanwhile is turned away.
register_entry "\"$game_win\\UnInst.exe\""
expect_drive answered-no <<EOS
start "$(q "$game_win\\UnInst.exe")"
wait-window class:#32770 "" 20
expect-text $BOX_TEXT "$(text_confirm "$title")"
start "$(q "$game_win\\UnInst.exe")"
wait-window class:#32770 "$title" 20
expect-text $BOX_TEXT "[ $title アンインストール ] は既に起動中です"
click 1
wait-exit 0 20
use 1
wait-window class:#32770 "" 10
click 7
wait-exit -1 20
EOS
for f in UnInst.exe install.env game.exe data/a.dat; do assert_file "$game/$f" "after No: $f"; done

e2e_pass
