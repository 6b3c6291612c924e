# An older system and a CD-ROM drive, both set in this prefix for the length of the test:
# Wine reports Windows XP to setup.exe alone (AppDefaults), and drive D: is a CD-ROM in
# Wine's drive settings. The shortcuts then land in the current user's folders, and the
# CD markers give D:\ (the whole install test sees "E:\" on a prefix without one).
. "$E2E_LIB"
. "$(dirname "$0")/install_lib.sh"
e2e_init

title='旧版試験'
caption="$title スタートアップ"
# INI_FILE is a bare name: the file lies in the Windows folder.
ini_win=e2e_xp_disc.ini
app_key='Software\TALVEN_E2E\xp'
make_game "$SCRATCH/game" "$title" "INSTREADME	お読みください" "INSTREADMEFL	readme.txt" \
  "REG_GLOBAL	TALVEN_E2E" "REG_LOCAL	xp" "INI_FILE	$ini_win" "INI_SECTION	cd" \
  "[regall]" '"Disc"="REP_CDROM"' '"Both"="REP_CDROMDRIVE|REP_INSTALL"' "-" \
  "[ini]" "Disc=REP_CDROMDRIVE" "Short=REP_CDROM" "-"
pack_dir "$SCRATCH/game" "$SCRATCH/game.arc"
media_separate "$SCRATCH/game.arc"
dest_win="$MEDIA_WIN\\xp"

cd_folder=$SCRATCH/cdrom
mkdir -p "$cd_folder"
xp_restore() {
  wine reg delete 'HKCU\Software\Wine\AppDefaults\setup.exe' /f >/dev/null 2>&1 || true
  wine reg delete 'HKLM\Software\Wine\Drives' /v d: /f >/dev/null 2>&1 || true
  rm -f "$WINEPREFIX/dosdevices/d:"
  wineserver -k >/dev/null 2>&1 || true  # this prefix's server: drive types are read at its start
}
trap 'status=$?; (xp_restore); (exit $status); e2e_cleanup' EXIT
[ ! -e "$WINEPREFIX/dosdevices/d:" ] || e2e_fail "drive d: is already configured in this prefix"

wine reg add 'HKCU\Software\Wine\AppDefaults\setup.exe' /v Version /d winxp /f >/dev/null 2>&1 ||
  e2e_fail "cannot set the reported version"
wine reg add 'HKLM\Software\Wine\Drives' /v d: /d cdrom /f >/dev/null 2>&1 || e2e_fail "cannot set the drive type"
ln -s "$cd_folder" "$WINEPREFIX/dosdevices/d:"
wineserver -k >/dev/null 2>&1 || true

clean_install "$title" "$app_key" "$title" "$ini_win"
common_programs=$programs common_desktop=$desktop
[ "$user_programs" != "$common_programs" ] || e2e_fail "the two programs folders are the same: $user_programs"

drive_menu_install xp "$dest_win" wait=120

answers=$(inspect \
  "exists	$user_programs\\$title\\$title.LNK" \
  "exists	$user_programs\\$title\\$title お読みください.LNK" \
  "exists	$user_programs\\$title\\$title アンインストール.LNK" \
  "exists	$user_desktop\\$title.LNK" \
  "exists	$common_programs\\$title" \
  "exists	$common_desktop\\$title.LNK" \
  "lnk	$user_programs\\$title\\$title.LNK" \
  "reg	HKLM	$app_key	Disc" \
  "reg	HKLM	$app_key	Both" \
  "ini	$ini_win	cd	Disc" \
  "ini	$ini_win	cd	Short")
expected=$(printf '%s\n' 1 1 1 1 0 0 \
  "$dest_win\\game.exe|$dest_win|E2E_install_xp_cdrom" \
  'D:\' \
  "D:\\DRIVE|$dest_win" \
  'D:\' \
  'REP_CDROM')
[ "$answers" = "$expected" ] || e2e_fail "XP folders and CD markers:
$(diff <(echo "$expected") <(echo "$answers"))"

e2e_pass
