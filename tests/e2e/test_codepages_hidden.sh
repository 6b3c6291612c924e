# A generated game whose names hold the trail bytes 0x5C (予 0x97 0x5C, ソ 0x83 0x5C, 表
# 0x95 0x5C) and 0x7C (ポ 0x83 0x7C) in its title, folders, files, INST_GROUP, INI_FILE,
# REG_GLOBAL and REG_LOCAL, and names that one best fit would merge (ア.dat/ヂ.dat,
# 第一章.scn/第二章.scn), installed and removed under code pages 932, 1252, 936, 949 and
# 65001, each compared from Linux with the 932 run (codepage_matrix in codepage_lib.sh).
. "$E2E_LIB"
. "$(dirname "$0")/codepage_lib.sh"
e2e_init
require_uninst

CP_TITLE='予ソ表ポの章' CP_GROUP='表ポ予' CP_GLOBAL='TALVEN予ソ' CP_INI='ソ表ポ.ini'
game=$SCRATCH/game
make_game "$game" "$CP_TITLE" "FORCEINSTALL	1" "INST_GROUP	$CP_GROUP" "REG_GLOBAL	$CP_GLOBAL" \
  "REG_LOCAL	ポ表" "INI_FILE	$CP_INI" "INI_SECTION	予ソ" \
  '[reg]' '"InstTo"="REP_INSTALL"' '"予表"="REP_INSTALL\\予備"' '-' '[regall]' '"Path"="REP_INSTALL"' '-' \
  '[ini]' 'Path=REP_INSTALL' 'ソ=REP_INSTALL\表' '-' \
  '[delfiles]' 'readme.txt' 'insttscr.rct' 'game.exe' 'データ\' 'save\' '予備\' 'ア.dat' 'ヂ.dat' \
  '第一章.scn' '第二章.scn' '-'
mkdir -p "$game/予備/表ポ"
for name in ア.dat ヂ.dat 第一章.scn 第二章.scn 予備/表ポ/ソ.txt; do
  printf '%s\r\n' "$name" >"$game/$name"  # each its own bytes: a merged pair shows as a wrong MD5
done
codepage_matrix "$game" 'C:\コードページ 試験\予ソ表ポ' 0
rm -rf "$(unix_path 'C:\コードページ 試験')"

e2e_pass
