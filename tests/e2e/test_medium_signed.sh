# A signed medium: medium --sign with a throw-away certificate signs setup.exe (package
# appended) so that osslsigncode verifies it, talven-pack list and verify still find the
# package before the certificate table, and the signed setup.exe installs the sample
# game. append refuses the signed program. One byte flipped inside the package breaks
# the signature (osslsigncode and verify fail) and the installer refuses the package.
# A separate signed medium carries the package's SHA-256: a byte changed anywhere in
# instdat.arc, even one the start-up pass would never notice, is refused; the same
# change beside an unsigned setup.exe still reaches the menu.
. "$E2E_LIB"
. "$(dirname "$0")/install_lib.sh"
e2e_init
command -v osslsigncode >/dev/null || e2e_fail "osslsigncode is not installed (scripts/setup-deps.sh)"

sample_package "$SCRATCH/sample"
stage=$SCRATCH/sample/sample-game
key=$SCRATCH/key
mkdir -p "$key"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$key/key.pem" -out "$key/cert.pem" -days 2 \
  -subj "/CN=TALVEN test maker" >"$SCRATCH/openssl.log" 2>&1 || e2e_fail "openssl req: $(cat "$SCRATCH/openssl.log")"
printf 'throw-away\n' >"$key/pass"
openssl pkcs12 -export -inkey "$key/key.pem" -in "$key/cert.pem" -out "$key/maker.p12" -passout file:"$key/pass" \
  >>"$SCRATCH/openssl.log" 2>&1 || e2e_fail "openssl pkcs12: $(cat "$SCRATCH/openssl.log")"

"$TALVEN_PACK" medium --setup "$SETUP_EXE" --sign "$key/maker.p12" --pass-file "$key/pass" "$stage" "$MEDIA" \
  >"$SCRATCH/medium.log" 2>&1 || e2e_fail "talven-pack medium --sign failed: $(cat "$SCRATCH/medium.log")"
signed=$MEDIA/setup.exe
osslsigncode verify -CAfile "$key/cert.pem" -in "$signed" >"$SCRATCH/ossl-verify.log" 2>&1 ||
  e2e_fail "osslsigncode does not verify the signed setup.exe: $(tail -n 5 "$SCRATCH/ossl-verify.log")"
"$TALVEN_PACK" list "$signed" >"$SCRATCH/list.log" 2>&1 || e2e_fail "list of the signed setup.exe: $(cat "$SCRATCH/list.log")"
grep -q 'install.env' "$SCRATCH/list.log" || e2e_fail "list shows no install.env: $(cat "$SCRATCH/list.log")"
"$TALVEN_PACK" verify -q --ca "$key/cert.pem" "$signed" >"$SCRATCH/verify.log" 2>&1 ||
  e2e_fail "verify of the signed setup.exe: $(cat "$SCRATCH/verify.log")"
grep -q 'signature present: signed bytes intact.*chain verified' "$SCRATCH/verify.log" ||
  e2e_fail "verify does not report the signature: $(cat "$SCRATCH/verify.log")"
"$TALVEN_PACK" append "$signed" "$SCRATCH/sample/instdat.arc" "$SCRATCH/again.exe" >"$SCRATCH/append.log" 2>&1 &&
  e2e_fail "append onto a signed setup.exe was accepted"
grep -q 'then sign the result' "$SCRATCH/append.log" || e2e_fail "append does not say to sign after: $(cat "$SCRATCH/append.log")"
assert_no_file "$SCRATCH/again.exe" "output of the refused append"
# The password from the environment: an empty one is refused by the signer, the right one signs.
cp "$SETUP_EXE" "$SCRATCH/nopass.exe"
TALVEN_SIGN_PASSWORD= "$TALVEN_PACK" sign "$key/maker.p12" "$SCRATCH/nopass.exe" >"$SCRATCH/nopass.log" 2>&1 &&
  e2e_fail "signing with a wrong password succeeded"
TALVEN_SIGN_PASSWORD=throw-away "$TALVEN_PACK" sign "$key/maker.p12" "$SCRATCH/nopass.exe" >"$SCRATCH/envpass.log" 2>&1 ||
  e2e_fail "signing with the password in the environment failed: $(cat "$SCRATCH/envpass.log")"

# An older medium, its package appended without the zeros that end the file on 8 bytes:
# sign moves the package so that the signer's table follows the trailer.
old=$SCRATCH/older-setup.exe
append_unpadded "$SCRATCH/sample/instdat.arc" "$old"
[ $(( $(stat -c %s "$old") % 8 )) -ne 0 ] || e2e_fail "the older layout happens to end on 8 bytes; nothing to move"
"$TALVEN_PACK" sign --pass-file "$key/pass" "$key/maker.p12" "$old" >"$SCRATCH/sign-older.log" 2>&1 ||
  e2e_fail "sign of an older medium failed: $(cat "$SCRATCH/sign-older.log")"
grep -q 'package moved' "$SCRATCH/sign-older.log" || e2e_fail "sign did not move the package: $(cat "$SCRATCH/sign-older.log")"
osslsigncode verify -CAfile "$key/cert.pem" -in "$old" >/dev/null 2>&1 || e2e_fail "the signed older medium does not verify"
"$TALVEN_PACK" list "$old" | cmp -s - "$SCRATCH/list.log" || e2e_fail "the signed older medium lists differently"

install_sample_from_menu "$stage" 'C:\署名 試験\月影の譜' "$IDC_MENU_BUTTON1=終了 $IDC_MENU_BUTTON2=お読みください $IDC_MENU_BUTTON3=インストール"
rm -rf "$(unix_path 'C:\署名 試験')"

# One byte of install.env's compressed data, inside the signed bytes.
flip_byte "$signed" "$(data_middle "$signed" install.env)"
osslsigncode verify -CAfile "$key/cert.pem" -in "$signed" >"$SCRATCH/ossl-flipped.log" 2>&1 &&
  e2e_fail "osslsigncode verifies a setup.exe with a flipped byte"
"$TALVEN_PACK" verify -q "$signed" >"$SCRATCH/verify-flipped.log" 2>&1 && e2e_fail "verify accepts the flipped byte"
grep -q 'signature BROKEN' "$SCRATCH/verify-flipped.log" ||
  e2e_fail "verify does not call the signature broken: $(cat "$SCRATCH/verify-flipped.log")"
expect_error_exit flipped "$TEXT_DAMAGED" -1

"$TALVEN_PACK" medium --separate --setup "$SETUP_EXE" --sign "$key/maker.p12" --pass-file "$key/pass" "$stage" \
  "$SCRATCH/separate" >"$SCRATCH/medium-separate.log" 2>&1 ||
  e2e_fail "talven-pack medium --separate --sign failed: $(cat "$SCRATCH/medium-separate.log")"
rm -rf "$MEDIA"/*
cp "$SCRATCH/separate/setup.exe" "$SCRATCH/separate/instdat.arc" "$MEDIA/"
menu_exit separate-intact "$SAMPLE_CAPTION"
# The time stamp of the last entry: neither pass reads it as damage.
time_at=$(package_entries "$MEDIA/instdat.arc" | grep '"time_at":[0-9]' | tail -n 1 | json_number time_at)
[ -n "$time_at" ] || e2e_fail "no time stamp offset in the package's listing"
flip_byte "$MEDIA/instdat.arc" "$time_at"
"$TALVEN_PACK" verify -q "$MEDIA/instdat.arc" >/dev/null 2>&1 || e2e_fail "the flipped time stamp should read as sound"
expect_error_exit separate-flipped "$TEXT_DAMAGED" -1
cp "$SETUP_EXE" "$MEDIA/setup.exe"
menu_exit separate-unsigned "$SAMPLE_CAPTION"
e2e_pass
