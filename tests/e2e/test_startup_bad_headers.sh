#!/usr/bin/env bash
# Entry headers out of bounds and packages that are not there: a name length above 260,
# a name without its NUL, a negative packed size, an appended offset past the end or at
# the start of the program, and no package at all. Each is the damaged-package box,
# exit code -1 and no work folder left.
. "$(dirname "$0")/lib.sh"
e2e_init
remove_stale_work_folders

make_flat_game "$SCRATCH/game" "見出しテスト"
good=$SCRATCH/good.arc
pack_dir "$SCRATCH/game" "$good"
# The first entry (game.exe) is one the start-up pass skips; install.env one it inflates.
[ "$(entry_field "$good" game.exe offset)" = 0 ] || e2e_fail "game.exe is not the first entry of $good"
first_size_at=$(entry_field "$good" game.exe size_at)
first_packed_at=$(entry_field "$good" game.exe packed_at)
env_size_at=$(entry_field "$good" install.env size_at)
env_packed_at=$(entry_field "$good" install.env packed_at)

# The intact package reaches the menu, separate and appended by hand: the edits below are
# what makes each case fail.
for kind in separate appended_raw; do
  "media_$kind" "$good"
  expect_drive "intact-$kind" <<SCENARIO
start $MEDIA_WIN\\setup.exe
wait-window "$(menu_caption 見出しテスト)" 20
close
wait-exit 0 20
SCENARIO
done

bad_case() {  # bad_case NAME separate|appended EDIT
  local name=$1 kind=$2 edit=$3
  local pkg=$SCRATCH/$name.arc
  cp "$good" "$pkg"
  # The offsets edit the finished program; every other edit is made to the package.
  case $edit in
    exe_*) ;;
    *) "$edit" "$pkg"; ! cmp -s "$good" "$pkg" || e2e_fail "case $name: the edit changed nothing" ;;
  esac
  "media_$kind" "$pkg"
  case $edit in exe_*) "$edit" "$MEDIA/setup.exe" ;; esac
  expect_error_exit "$name" "$TEXT_DAMAGED" -1
  e2e_log "  case $name ($kind): damaged-package box, -1, work folder removed"
}

name_261() { write_uint "$1" 0 2 261; }
name_max() { write_uint "$1" 0 2 65535; }
# The last byte of a name (its NUL) lies just before the size field.
name_no_nul() { write_uint "$1" $((first_size_at - 1)) 1 120; }
env_name_no_nul() { write_uint "$1" $((env_size_at - 1)) 1 120; }
skipped_packed_negative() { write_uint "$1" "$first_packed_at" 4 -1000; }
env_packed_negative() { write_uint "$1" "$env_packed_at" 4 -5; }
exe_offset_past_end() { write_uint "$1" $(( $(stat -c %s "$1") - 4 )) 4 $(( $(stat -c %s "$1") + 1000 )); }
exe_offset_zero() { write_uint "$1" $(( $(stat -c %s "$1") - 4 )) 4 0; }
nothing() { :; }

bad_case name-length-261 separate name_261
bad_case name-length-65535 separate name_max
bad_case name-without-nul separate name_no_nul
bad_case env-name-without-nul separate env_name_no_nul
bad_case skipped-packed-negative separate skipped_packed_negative
bad_case env-packed-negative separate env_packed_negative
bad_case name-length-261-appended appended_raw name_261
bad_case offset-past-end appended exe_offset_past_end
bad_case offset-zero appended exe_offset_zero

# No package: setup.exe alone, neither instdat.arc nor an appended block.
media_exe_only
expect_error_exit no-package "$TEXT_DAMAGED" -1
e2e_log "  case no-package: damaged-package box, -1, work folder removed"
e2e_pass
