#!/usr/bin/env bash
# Truncated and damaged packages, separate and appended: every kind ends in the
# damaged-package box, exit code -1, and no work folder left behind. The start-up pass
# inflates only its own entries, so the damage sits in install.env, in a header, or at
# the end of the package.
. "$(dirname "$0")/lib.sh"
e2e_init

make_flat_game "$SCRATCH/game" "破損テスト"
good=$SCRATCH/good.arc
pack_dir "$SCRATCH/game" "$good"
# The intact package reaches the menu: the damage below is what makes each case fail.
media_separate "$good"
menu_then_close intact 破損テスト

# Each edit takes its offsets from the file it damages: the package or the program
# carrying it.
cut_in_env_data() { cut_package "$1" "$(data_middle "$1" install.env)"; }
cut_terminator() { cut_package "$1" "$(package_entries "$1" | grep '"kind":"end"' | json_number offset)"; }
cut_in_header() { cut_package "$1" $(( $(entry_field "$1" readme.txt name_at) + 3 )); }
flip_env_middle() { flip_byte "$1" "$(data_middle "$1" install.env)"; }
flip_env_header() { flip_byte "$1" "$(entry_field "$1" install.env data)"; }
flip_env_trailer() { flip_byte "$1" $(( $(entry_field "$1" install.env data) + $(entry_field "$1" install.env packed) - 1 )); }
short_env_packed() { write_field "$1" install.env packed $(( $(entry_field "$1" install.env packed) - 4 )); }

for c in "cut-in-data separate cut_in_env_data" "cut-in-data-appended appended cut_in_env_data" \
  "no-terminator separate cut_terminator" "no-terminator-appended appended cut_terminator" \
  "cut-in-header separate cut_in_header" "flipped-data separate flip_env_middle" \
  "flipped-data-appended appended flip_env_middle" "bad-zlib-header separate flip_env_header" \
  "bad-checksum separate flip_env_trailer" "packed-size-short separate short_env_packed"; do
  damaged_case "$good" $c
done
e2e_pass
