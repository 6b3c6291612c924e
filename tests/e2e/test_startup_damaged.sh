#!/usr/bin/env bash
# Truncated and damaged packages, separate and appended: every kind ends in the
# damaged-package box, exit code -1, and no work folder left behind. The start-up pass
# inflates only its own entries, so the damage sits in install.env, in a header, or at
# the end of the package.
. "$(dirname "$0")/lib.sh"
e2e_init
remove_stale_work_folders

make_flat_game "$SCRATCH/game" "破損テスト"
good=$SCRATCH/good.arc
pack_dir "$SCRATCH/game" "$good"
env_data=$(entry_field "$good" install.env data)
env_packed=$(entry_field "$good" install.env packed)
env_offset=$(entry_field "$good" install.env offset)
readme_offset=$(entry_field "$good" readme.txt offset)
size=$(stat -c %s "$good")

# The intact package reaches the menu: the damage below is what makes each case fail.
media_separate "$good"
expect_drive intact <<SCENARIO
start $MEDIA_WIN\\setup.exe
wait-window "$(menu_caption 破損テスト)" 20
close
wait-exit 0 20
SCENARIO

damaged_case() {  # damaged_case NAME separate|appended_raw EDIT...
  local name=$1 kind=$2
  shift 2
  local pkg=$SCRATCH/$name.arc
  cp "$good" "$pkg"
  "$@" "$pkg"
  ! cmp -s "$good" "$pkg" || e2e_fail "case $name: the edit changed nothing"
  "media_$kind" "$pkg"
  expect_error_exit "$name" "$TEXT_DAMAGED" -1
  e2e_log "  case $name ($kind): damaged-package box, -1, work folder removed"
}

cut_in_env_data() { truncate_file "$1" $((env_data + env_packed / 2)); }
cut_terminator() { truncate_file "$1" $((size - 2)); }
cut_in_header() { truncate_file "$1" $((readme_offset + 5)); }
flip_env_middle() { flip_byte "$1" $((env_data + env_packed / 2)); }
flip_env_header() { flip_byte "$1" "$env_data"; }
flip_env_trailer() { flip_byte "$1" $((env_data + env_packed - 1)); }
short_env_packed() { write_uint "$1" "$(entry_field "$1" install.env packed_at)" 4 $((env_packed - 4)); }

damaged_case cut-in-data separate cut_in_env_data
damaged_case cut-in-data-appended appended_raw cut_in_env_data
damaged_case no-terminator separate cut_terminator
damaged_case no-terminator-appended appended_raw cut_terminator
damaged_case cut-in-header separate cut_in_header
damaged_case flipped-data separate flip_env_middle
damaged_case flipped-data-appended appended_raw flip_env_middle
damaged_case bad-zlib-header separate flip_env_header
damaged_case bad-checksum separate flip_env_trailer
damaged_case packed-size-short separate short_env_packed
e2e_pass
