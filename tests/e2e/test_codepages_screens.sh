# Every screen of the demo (examples/sample-game/demo.drv) under code page 1252 (en_US)
# against the same screen under 932: the same program on the same display must draw the
# same pixels (at most 100 differ by more than 5 % in colour: a caret), so a text shown in
# the wrong code page or without its Japanese glyphs is caught. Under 1252 the notice of
# the foreign code page comes when the install button is pressed and is shot as well (00-notice.bmp).
. "$E2E_LIB"
. "$(dirname "$0")/codepage_lib.sh"
e2e_init

sample_package "$SCRATCH/sample"
media_appended "$SCRATCH/sample/instdat.arc"
export DEMO_SETUP="$MEDIA_WIN\\setup.exe" DEMO_MEDIA=$MEDIA_WIN
CP_TITLE='月影の譜 サンプルゲーム' CP_GROUP=TALVEN CP_GLOBAL=TALVEN CP_INI=tsukikage.ini
dest=$(unix_path 'C:\Program Files\TALVEN\TsukikageSample')
trap 'status=$?; (cp_clean_slate "$dest"); (exit $status); e2e_cleanup' EXIT

failed=
for locale in ja_JP.UTF-8 en_US.UTF-8; do
  cp_clean_slate "$dest"
  demo_shots "$locale" "$SCRATCH/$locale" || failed="$failed, the demo under $locale stopped"
done
[ -f "$SCRATCH/en_US.UTF-8/00-notice.bmp" ] || failed="$failed, no notice under 1252"
for shot in "$SCRATCH/ja_JP.UTF-8"/*.bmp; do
  name=$(basename "$shot")
  other=$SCRATCH/en_US.UTF-8/$name
  if [ ! -f "$other" ]; then
    failed="$failed, no $name under 1252"
    continue
  fi
  off=$(compare -metric AE -fuzz 5% "$shot" "$other" "$SCRATCH/diff-${name%.bmp}.png" 2>&1 || true)
  off=${off%%.*}
  [[ $off =~ ^[0-9]+$ ]] || e2e_fail "compare gave no count for $name: $off"
  e2e_log "$name: $off pixels differ between 932 and 1252"
  [ "$off" -le 100 ] || failed="$failed, $name differs ($off pixels; see $SCRATCH/diff-${name%.bmp}.png)"
done
[ -z "$failed" ] || e2e_fail "${failed#, }"

e2e_pass
