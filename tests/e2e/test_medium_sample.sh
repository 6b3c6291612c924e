# The medium command builds the sample game's whole medium, and that medium installs:
# setup.exe with the package appended (no instdat.arc), the readme beside it, the DirectX
# folder (which gives the menu its fourth button), and an ISO image whose Joliet names
# keep their Japanese. The install from the menu gives back the game tree byte for byte
# with its times. Then a FORCEINSTALL game's medium (--separate) with bin/, whose game
# program and uninstaller end up in the install folder.
. "$E2E_LIB"
. "$(dirname "$0")/install_lib.sh"
e2e_init

sample_package "$SCRATCH/sample"
stage=$SCRATCH/sample/sample-game
mkdir -p "$SCRATCH/DirectX"
printf 'dxsetup stand-in\r\n' >"$SCRATCH/DirectX/dxsetup.exe"
write_cp932 "$SCRATCH/DirectX/導入の手引き.txt" "DirectX の導入について"

"$TALVEN_PACK" medium --setup "$SETUP_EXE" --directx "$SCRATCH/DirectX" --iso "$SCRATCH/medium.iso" \
  --label TSUKIKAGE "$stage" "$MEDIA" >"$SCRATCH/medium.log" 2>&1 ||
  e2e_fail "talven-pack medium failed: $(cat "$SCRATCH/medium.log")"
assert_file "$MEDIA/setup.exe" "setup.exe of the medium"
assert_no_file "$MEDIA/instdat.arc" "instdat.arc (the package is appended by default)"
assert_no_file "$MEDIA/bin" "bin folder (the sample game has no FORCEINSTALL)"
assert_same_file "$stage/readme.txt" "$MEDIA/readme.txt"
assert_same_file "$SCRATCH/DirectX/dxsetup.exe" "$MEDIA/DirectX/dxsetup.exe"
"$TALVEN_PACK" verify "$MEDIA/setup.exe" >"$SCRATCH/verify.log" 2>&1 ||
  e2e_fail "the appended package does not verify: $(cat "$SCRATCH/verify.log")"

iso_names=$(xorriso -indev "$SCRATCH/medium.iso" -find 2>/dev/null)
for name in ./setup.exe ./readme.txt ./DirectX/dxsetup.exe "./DirectX/導入の手引き.txt"; do
  grep -qxF "'$name'" <<<"$iso_names" || e2e_fail "the image does not list $name: $iso_names"
done
label=$(xorriso -indev "$SCRATCH/medium.iso" -pvd_info 2>/dev/null | sed -n 's/^Volume Id *: *//p')
assert_eq TSUKIKAGE "$label" "volume label of the image"

install_sample_from_menu "$stage" 'C:\媒体 試験\月影の譜' "$IDC_MENU_BUTTON1=終了 $IDC_MENU_BUTTON2=DirectXインストール $IDC_MENU_BUTTON3=お読みください $IDC_MENU_BUTTON4=インストール"
rm -rf "$(unix_path 'C:\媒体 試験')"

# An immediate install: medium --separate puts the game program and the uninstaller into
# bin/, and setup.exe copies both into the install folder.
title='媒体即時'
make_game "$SCRATCH/force" "$title" "FORCEINSTALL	1" "REG_GLOBAL	TALVEN_E2E" "REG_LOCAL	medium"
printf 'uninstaller stand-in\r\n' >"$SCRATCH/UnInst.exe"
media2=$MEDIA/force
"$TALVEN_PACK" medium --separate --setup "$SETUP_EXE" --uninst "$SCRATCH/UnInst.exe" "$SCRATCH/force" "$media2" \
  >"$SCRATCH/medium-force.log" 2>&1 || e2e_fail "talven-pack medium (FORCEINSTALL) failed: $(cat "$SCRATCH/medium-force.log")"
assert_file "$media2/instdat.arc" "instdat.arc beside setup.exe (--separate)"
assert_same_file "$SCRATCH/force/game.exe" "$media2/bin/game.exe"
assert_same_file "$SCRATCH/UnInst.exe" "$media2/bin/UnInst.exe"
dest_win='C:\媒体 試験\即時'
dest=$(unix_path "$dest_win")
drive_menu_install force "$dest_win" menu= exe="$MEDIA_WIN\\force\\setup.exe" "shortcut=click 2" wait=120
assert_same_file "$SCRATCH/force/game.exe" "$dest/game.exe"
assert_same_file "$SCRATCH/UnInst.exe" "$dest/UnInst.exe"
assert_same_file "$SCRATCH/force/データ/画像/背景01.bmp" "$dest/データ/画像/背景01.bmp"
rm -rf "$(unix_path 'C:\媒体 試験')"

e2e_pass
