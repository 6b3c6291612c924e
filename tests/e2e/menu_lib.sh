# Helpers of the main-menu end-to-end tests (tests/e2e/test_menu_*.sh), sourced after
# lib.sh and e2e_init.
#
#   menu_package NAME TITLE [ENV_LINES...]   game folder $SCRATCH/NAME packed into
#                                            $SCRATCH/NAME.arc (make_game of lib.sh)
#   menu_probe OUT.exe                       a copy of the probe (tests/e2e/probe.c), a tiny
#                                            Windows program that reports how it was
#                                            started (see below)
#   wait_new_work_folder SNAPSHOT            the name of the work folder that appears
#                                            after the snapshot, within 20 s
#   driver_in_background LABEL SCENARIO_FILE the driver with a scenario file, in the
#                                            background; $DRIVER_PID is its pid
#
# The probe writes to the file named by the environment variable PROBE_REPORT (a Windows
# path; Wine hands the Unix environment to the programs it starts, and setup.exe passes it
# on): its current directory, its command line and its first argument, one "key=value"
# line each, in the bytes the system gave it (CP932). With an argument it also copies that
# file to PROBE_REPORT.copy, so that a test can compare what was opened.

menu_package() {
  local name=$1 title=$2
  shift 2
  make_game "$SCRATCH/$name" "$title" "$@"
  pack_dir "$SCRATCH/$name" "$SCRATCH/$name.arc"
}

menu_probe() {
  [ -n "${PROBE_EXE:-}" ] && [ -f "$PROBE_EXE" ] ||
    e2e_fail "probe.exe is not built: '${PROBE_EXE:-}' (the e2e_probe target of the Windows build)"
  cp "$PROBE_EXE" "$1"
}

# probe_field REPORT KEY: the value of one line of a probe report, as UTF-8.
probe_field() {
  tr -d '\r' <"$1" | iconv -f CP932 -t UTF-8 | sed -n "s/^$2=//p"
}

wait_new_work_folder() {
  local snapshot=$1 i found
  for i in $(seq 200); do
    found=$(new_work_folders "$snapshot" | head -n 1)
    if [ -n "$found" ]; then
      echo "$found"
      return 0
    fi
    sleep 0.1
  done
  return 1
}

driver_in_background() {
  local label=$1 scenario=$2
  wine "$UIDRIVER_EXE" "$(win_path "$scenario")" >"$SCRATCH/$label.log" 2>&1 &
  DRIVER_PID=$!
}

# finish_driver LABEL: wait for the background driver; fail the test when it failed.
finish_driver() {
  local label=$1 status=0
  wait "$DRIVER_PID" || status=$?
  tr -d '\r' <"$SCRATCH/$label.log" | sed "s/^/  [$label] /"
  [ $status -eq 0 ] || e2e_fail "scenario $label failed (see above)"
}
