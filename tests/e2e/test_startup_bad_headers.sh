#!/usr/bin/env bash
# Entry headers out of bounds and packages that are not there: a name length above 260,
# a name without its NUL, a negative packed size, an appended offset past the end or at
# the start of the program, and no package at all. Each is the damaged-package box,
# exit code -1 and no work folder left.
. "$(dirname "$0")/lib.sh"
e2e_init

make_flat_game "$SCRATCH/game" "見出しテスト"
good=$SCRATCH/good.arc
pack_dir "$SCRATCH/game" "$good"
# The first entry (game.exe) is one the start-up pass skips; install.env one it inflates.
[ "$(entry_field "$good" game.exe offset)" = "$(package_field "$good" start)" ] ||
  e2e_fail "game.exe is not the first entry of $good"

# The intact package reaches the menu, separate and appended (and as older media appended
# it, without zeros before it): the edits below are what makes each case fail.
for kind in separate appended appended_unpadded; do
  "media_$kind" "$good"
  menu_then_close "intact-$kind" 見出しテスト
done

# Each edit takes its offsets from the file it damages: the package or the program
# carrying it.
name_261() { write_field "$1" game.exe name_length 261; }
name_max() { write_field "$1" game.exe name_length 65535; }
# The last byte of a stored name is its NUL.
nul_of() { echo $(( $(entry_field "$1" "$2" name_at) + $(entry_field "$1" "$2" name_length) - 1 )); }
name_no_nul() { write_uint "$1" "$(nul_of "$1" game.exe)" 1 120; }
env_name_no_nul() { write_uint "$1" "$(nul_of "$1" install.env)" 1 120; }
skipped_packed_negative() { write_field "$1" game.exe packed -1000; }
env_packed_negative() { write_field "$1" install.env packed -5; }
offset_past_end() { set_package_start "$1" $(( $(stat -c %s "$1") + 1000 )); }
offset_zero() { set_package_start "$1" 0; }

for c in "name-length-261 separate name_261" "name-length-65535 separate name_max" \
  "name-without-nul separate name_no_nul" "env-name-without-nul separate env_name_no_nul" \
  "skipped-packed-negative separate skipped_packed_negative" "env-packed-negative separate env_packed_negative" \
  "name-length-261-appended appended name_261" "offset-past-end appended offset_past_end" \
  "offset-zero appended offset_zero"; do
  damaged_case "$good" $c
done

# No package: setup.exe alone, neither instdat.arc nor an appended block.
media_exe_only
expect_error_exit no-package "$TEXT_DAMAGED" -1
e2e_log "  case no-package: damaged-package box, -1, work folder removed"
e2e_pass
