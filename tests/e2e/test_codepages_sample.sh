# The sample game (its folder セーブ\予備 holds 予, 0x97 0x5C) installed and removed under
# code pages 932, 1252, 936, 949 and 65001, each compared from Linux with the 932 run:
# files, folders, registry, INI, shortcuts and uninstall entry the same, nothing left
# after the uninstall (see codepage_matrix in codepage_lib.sh). Immediate install
# (FORCEINSTALL added to its record), so the same steps serve every code page.
. "$E2E_LIB"
. "$(dirname "$0")/codepage_lib.sh"
e2e_init
require_uninst

sample_package "$SCRATCH/sample" "$UNINST_EXE"
game=$SCRATCH/sample/sample-game
{ printf 'FORCEINSTALL\t1\r\n'; cat "$game/install.env"; } >"$SCRATCH/install.env"
mv "$SCRATCH/install.env" "$game/install.env"
CP_TITLE='月影の譜 サンプルゲーム' CP_GROUP=TALVEN CP_GLOBAL=TALVEN CP_INI=tsukikage.ini CP_EXE=tsukikage.exe
codepage_matrix "$game" 'C:\コードページ 試験\月影の譜' 1
rm -rf "$(unix_path 'C:\コードページ 試験')"

e2e_pass
