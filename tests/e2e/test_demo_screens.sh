# The demo's own scenario (examples/sample-game/demo.drv) on the sample medium, and what
# it shows held against docs/: the destination dialog and the end dialog, cut from the
# screen where the centred menu stands with its frame (Wine draws it; the rig's window
# manager leaves it so), must match the pictures of the README pixel for
# pixel (within a small colour tolerance), so that a build or a Wine path that draws them
# differently is noticed.
. "$E2E_LIB"
. "$(dirname "$0")/install_lib.sh"
e2e_init

sample_package "$SCRATCH/sample"
media_appended "$SCRATCH/sample/instdat.arc"
clean_sample_install 'C:\Program Files\TALVEN\TsukikageSample'

shots=$SCRATCH/shots
mkdir -p "$shots"
export DEMO_SETUP="$MEDIA_WIN\\setup.exe" DEMO_MEDIA=$MEDIA_WIN DEMO_SHOTS
DEMO_SHOTS=$(win_path "$shots")
status=0
(cd "$shots" && wine "$UIDRIVER_EXE" "$(win_path "$REPO/examples/sample-game/demo.drv")") \
  >"$SCRATCH/demo.log" 2>&1 || status=$?
tr -d '\r' <"$SCRATCH/demo.log" | sed 's/^/  [demo] /'
[ $status -eq 0 ] || e2e_fail "the demo scenario failed"

# same_as_docs SHOT DOC: the best of the cuts near the menu's place, at most 1 % of the
# pixels off by more than 5 % in colour.
same_as_docs() {
  local shot=$shots/$1.bmp doc=$REPO/docs/$2.png best=-1 x y off size
  [ -f "$shot" ] || e2e_fail "no screenshot $1"
  size=$(identify -format '%wx%h' "$doc")
  for x in 431 432 433; do
    for y in 353 354 355; do
      convert "$shot" -crop "$size+$x+$y" +repage "$SCRATCH/cut.png" || e2e_fail "cannot cut $shot"
      off=$(compare -metric AE -fuzz 5% "$SCRATCH/cut.png" "$doc" null: 2>&1 || true)
      off=${off%%.*}
      [[ $off =~ ^[0-9]+$ ]] || e2e_fail "compare gave no count for $1: $off"
      if [ "$best" -lt 0 ] || [ "$off" -lt "$best" ]; then best=$off; fi
    done
  done
  local limit=$(( ${size%x*} * ${size#*x} / 100 ))
  e2e_log "$1 against docs/$2.png: $best pixels differ (limit $limit)"
  [ "$best" -le "$limit" ] || e2e_fail "$1 does not look like docs/$2.png: $best pixels differ"
}
same_as_docs 02-setup setup-dialog
same_as_docs 05-end end-dialog

e2e_pass
