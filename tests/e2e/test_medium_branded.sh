# A branded medium: medium --icon and --version-info replace setup.exe's icon and version
# resource before the package is appended. wrestool (icoutils) reads them back: the icon
# is the maker's .ico byte for byte, the version resource holds the game's title, version
# and maker. The branded setup.exe still finds its package and shows the menu under Wine.
# Built twice, the medium is the same file.
. "$E2E_LIB"
. "$(dirname "$0")/install_lib.sh"
e2e_init
command -v wrestool >/dev/null && command -v icotool >/dev/null || e2e_fail "icoutils is not installed (scripts/setup-deps.sh)"

sample_package "$SCRATCH/sample"
stage=$SCRATCH/sample/sample-game
for size in 16 32 48; do
  convert -size ${size}x${size} gradient:navy-gold "PNG32:$SCRATCH/icon$size.png" 2>/dev/null ||
    e2e_fail "imagemagick cannot draw the icon"
done
icotool -c -o "$SCRATCH/game.ico" "$SCRATCH"/icon16.png "$SCRATCH"/icon32.png "$SCRATCH"/icon48.png ||
  e2e_fail "icotool cannot make the icon"

brand() {  # brand OUT_DIR
  "$TALVEN_PACK" medium --setup "$SETUP_EXE" --icon "$SCRATCH/game.ico" --product-version 2.1.0.7 --maker "月影工房" \
    "$stage" "$1" >"$SCRATCH/medium.log" 2>&1 || e2e_fail "talven-pack medium --icon failed: $(cat "$SCRATCH/medium.log")"
}
brand "$MEDIA"
brand "$SCRATCH/again"
cmp -s "$MEDIA/setup.exe" "$SCRATCH/again/setup.exe" || e2e_fail "the branded medium differs when built twice"
assert_no_file "$MEDIA/.setup-branded.exe" "the branded program's temporary copy"

wrestool -x --type=14 "$MEDIA/setup.exe" >"$SCRATCH/read.ico" 2>"$SCRATCH/wrestool.log" ||
  e2e_fail "wrestool cannot read the icon: $(cat "$SCRATCH/wrestool.log")"
# wrestool pads the .ico it writes with zeros (as many as the group resource holds).
cmp -s -n "$(stat -c %s "$SCRATCH/game.ico")" "$SCRATCH/game.ico" "$SCRATCH/read.ico" ||
  e2e_fail "the icon read back differs from game.ico"
wrestool -x --raw --type=16 "$MEDIA/setup.exe" | iconv -c -f UTF-16LE -t UTF-8 2>/dev/null | tr '\000' ' ' \
  >"$SCRATCH/version.txt" || true
for text in "月影の譜 サンプルゲーム" 2.1.0.7 "月影工房" ProductName CompanyName; do
  grep -qF "$text" "$SCRATCH/version.txt" || e2e_fail "the version resource lacks '$text': $(cat "$SCRATCH/version.txt")"
done
"$TALVEN_PACK" verify -q "$MEDIA/setup.exe" >"$SCRATCH/verify.log" 2>&1 ||
  e2e_fail "the branded medium does not verify: $(cat "$SCRATCH/verify.log")"
# The plain setup.exe carries the installer's own version resource.
wrestool -l --type=16 "$SETUP_EXE" | grep -q . || e2e_fail "setup.exe has no version resource of its own"

menu_exit menu "$SAMPLE_CAPTION" "expect-buttons $IDC_MENU_BUTTON1=終了 $IDC_MENU_BUTTON2=お読みください $IDC_MENU_BUTTON3=インストール"
e2e_pass
