# talven-pack.exe, the maker's tool for Windows, run under Wine: it packs the sample game
# into the same bytes as the Linux tool on the same compressor (zlib), builds the medium
# (the package appended to setup.exe, the readme, DirectX), its PNG reader and writer give
# the pictures libpng gives, and the medium installs from
# its menu like the Linux-built one: the game tree byte for byte, with its times. Ctrl+C
# while packing leaves nothing.
. "$E2E_LIB"
. "$(dirname "$0")/install_lib.sh"
e2e_init
[ -f "${TALVEN_PACK_EXE:-}" ] || e2e_fail "talven-pack.exe is not built: '${TALVEN_PACK_EXE:-}' (target talven_pack_exe)"
[ -x "${TALVEN_PACK_ZLIB:-}" ] || e2e_fail "talven-pack-zlib is not built: '${TALVEN_PACK_ZLIB:-}' (host build)"

sample_package "$SCRATCH/sample"
stage=$SCRATCH/sample/sample-game
tool() { wine "$TALVEN_PACK_EXE" "$@"; }

tool pack -q "$stage" "$SCRATCH/windows.arc" >"$SCRATCH/pack.log" 2>&1 ||
  e2e_fail "talven-pack.exe pack failed: $(cat "$SCRATCH/pack.log")"
"$TALVEN_PACK_ZLIB" pack -q "$stage" "$SCRATCH/linux.arc" >>"$SCRATCH/pack.log" 2>&1 ||
  e2e_fail "talven-pack-zlib pack failed: $(cat "$SCRATCH/pack.log")"
cmp "$SCRATCH/windows.arc" "$SCRATCH/linux.arc" >"$SCRATCH/cmp.log" 2>&1 ||
  e2e_fail "the two builds' packages differ: $(cat "$SCRATCH/cmp.log")"
tool list "$SCRATCH/windows.arc" >"$SCRATCH/list-windows.txt" 2>&1
"$TALVEN_PACK" list "$SCRATCH/windows.arc" >"$SCRATCH/list-linux.txt" 2>&1
cmp -s "$SCRATCH/list-windows.txt" "$SCRATCH/list-linux.txt" ||
  e2e_fail "list differs between the builds: $(diff "$SCRATCH/list-windows.txt" "$SCRATCH/list-linux.txt" | head -n 5)"

# Pictures: the same PNG gives the same RCT through either PNG reader, and the PNG each
# build decodes holds the same pixels.
bash "$REPO/examples/sample-game/draw_background.sh" "$SCRATCH/bg.png"
tool rct encode "$SCRATCH/bg.png" "$SCRATCH/windows.rct" >"$SCRATCH/rct.log" 2>&1 &&
  "$TALVEN_PACK" rct encode "$SCRATCH/bg.png" "$SCRATCH/linux.rct" >>"$SCRATCH/rct.log" 2>&1 ||
  e2e_fail "rct encode failed: $(cat "$SCRATCH/rct.log")"
assert_same_file "$SCRATCH/linux.rct" "$SCRATCH/windows.rct"
# Every kind of PNG: palette, gray at 1 and 8 bits, 16-bit colour, interlaced, with alpha.
kinds=("PNG8:" "-type Grayscale -depth 8 PNG:" "-monochrome PNG:" "-depth 16 PNG48:" "-interlace PNG PNG24:"
  "-alpha set -channel A -evaluate set 50% PNG32:")
for i in "${!kinds[@]}"; do
  read -r -a opts <<<"${kinds[$i]}"
  last=$((${#opts[@]} - 1))
  convert "$SCRATCH/bg.png" -resize 96x64 "${opts[@]:0:$last}" "${opts[$last]}$SCRATCH/kind$i.png"
  tool rct encode "$SCRATCH/kind$i.png" "$SCRATCH/kind$i-windows.rct" >>"$SCRATCH/rct.log" 2>&1 &&
    "$TALVEN_PACK" rct encode "$SCRATCH/kind$i.png" "$SCRATCH/kind$i-linux.rct" >>"$SCRATCH/rct.log" 2>&1 ||
    e2e_fail "rct encode of ${kinds[$i]} failed: $(tail -n 3 "$SCRATCH/rct.log")"
  cmp -s "$SCRATCH/kind$i-linux.rct" "$SCRATCH/kind$i-windows.rct" || e2e_fail "the PNG readers differ on ${kinds[$i]}"
done
tool rct decode "$SCRATCH/linux.rct" "$SCRATCH/windows.png" >>"$SCRATCH/rct.log" 2>&1 &&
  "$TALVEN_PACK" rct encode "$SCRATCH/windows.png" "$SCRATCH/again.rct" >>"$SCRATCH/rct.log" 2>&1 ||
  e2e_fail "rct decode failed: $(cat "$SCRATCH/rct.log")"
assert_same_file "$SCRATCH/linux.rct" "$SCRATCH/again.rct"

mkdir -p "$SCRATCH/DirectX"
printf 'dxsetup stand-in\r\n' >"$SCRATCH/DirectX/dxsetup.exe"
tool medium --setup "$SETUP_EXE" --directx "$SCRATCH/DirectX" "$stage" "$MEDIA" >"$SCRATCH/medium.log" 2>&1 ||
  e2e_fail "talven-pack.exe medium failed: $(cat "$SCRATCH/medium.log")"
assert_no_file "$MEDIA/instdat.arc" "instdat.arc (the package is appended by default)"
assert_same_file "$stage/readme.txt" "$MEDIA/readme.txt"
"$TALVEN_PACK" verify "$MEDIA/setup.exe" >"$SCRATCH/verify.log" 2>&1 ||
  e2e_fail "the appended package does not verify: $(cat "$SCRATCH/verify.log")"
# --iso needs xorriso, which the Windows build does not run: refused before anything is made.
code=0
tool medium --iso "$SCRATCH/x.iso" --setup "$SETUP_EXE" "$stage" "$SCRATCH/iso-medium" >"$SCRATCH/iso.log" 2>&1 || code=$?
assert_eq 1 "$code" "exit code of medium --iso on Windows"
grep -q 'no ISO image' "$SCRATCH/iso.log" || e2e_fail "no clear message for --iso: $(cat "$SCRATCH/iso.log")"
assert_no_file "$SCRATCH/iso-medium" "medium folder of the refused --iso run"

# Ctrl+C (SIGINT, which Wine hands to the program as a console control event) while
# packing leaves neither the package nor its temporary file.
mkdir -p "$SCRATCH/slow"
printf 'TITLEBAR\tslow\r\nEXENAME\tbig.dat\r\n' >"$SCRATCH/slow/install.env"
head -c 200000000 /dev/zero >"$SCRATCH/slow/big.dat"
mkdir -p "$SCRATCH/cut"
wine "$TALVEN_PACK_EXE" pack --no-check --best --threads 1 "$SCRATCH/slow" "$SCRATCH/cut/p.arc" >"$SCRATCH/cut.log" 2>&1 &
packer=$!
for _ in $(seq 1 100); do
  compgen -G "$SCRATCH/cut/p.arc.tmp-*" >/dev/null && break
  sleep 0.1
done
compgen -G "$SCRATCH/cut/p.arc.tmp-*" >/dev/null || e2e_fail "no temporary package appeared: $(cat "$SCRATCH/cut.log")"
kill -INT "$packer"
code=0
wait "$packer" || code=$?
[ "$code" -ne 0 ] || e2e_fail "an interrupted pack ended with exit code 0"
assert_empty "$(ls -A "$SCRATCH/cut")" "files left by an interrupted pack"
rm -rf "$SCRATCH/slow"

install_sample_from_menu "$stage" 'C:\媒体 試験\月影の譜' "$IDC_MENU_BUTTON1=終了 $IDC_MENU_BUTTON2=DirectXインストール $IDC_MENU_BUTTON3=お読みください $IDC_MENU_BUTTON4=インストール"
rm -rf "$(unix_path 'C:\媒体 試験')"
e2e_pass
