#!/usr/bin/env bash
# What a player's Windows sees of setup.exe and UnInst.exe before it runs a line of them,
# checked from the files alone (no Wine): the machine and subsystem, the manifest's
# administrator request and common-controls 6 dependency, that they import nothing beyond
# the system's own DLLs, and that a package appended by talven-pack is found again through
# setup.exe's trailer.
# Environment (from cmake/wine-tests.cmake): SETUP_EXE UNINST_EXE OBJDUMP TALVEN_PACK REPO
# SCRATCH TARGET_BITS (win32: the shipped i686 build, win64: the x86_64 test fallback).
set -uo pipefail  # no -e: every check runs and reports

fail=0
check() {  # check WHAT CONDITION-STATUS
  if [ "$2" -eq 0 ]; then echo "ok:   $1"; else echo "FAIL: $1" >&2; fail=1; fi
}
for v in SETUP_EXE UNINST_EXE OBJDUMP TALVEN_PACK REPO SCRATCH TARGET_BITS; do
  [ -n "${!v:-}" ] || { echo "FAIL: $v is not set (run through ctest)" >&2; exit 1; }
done
[ -f "$SETUP_EXE" ] || { echo "FAIL: $SETUP_EXE is not built" >&2; exit 1; }
rm -rf "$SCRATCH"
mkdir -p "$SCRATCH"

# pe_checks EXE: the checks of one program, each line naming it.
pe_checks() {
  local exe=$1 name header private manifest imports extra
  name=$(basename "$exe")
  header=$("$OBJDUMP" -f "$exe")
  private=$("$OBJDUMP" -p "$exe")
  if [ "$TARGET_BITS" = win32 ]; then
    grep -q 'file format pei-i386' <<<"$header"; check "$name: PE32 for i386" $?
    grep -qE '^Magic[[:space:]]+010b' <<<"$private"; check "$name: optional header of PE32 (not PE32+)" $?
  else
    grep -q 'file format pei-x86-64' <<<"$header"; check "$name: PE32+ for x86-64 (test build)" $?
  fi
  grep -qE '^Subsystem[[:space:]]+00000002' <<<"$private"; check "$name: Windows GUI subsystem" $?

  # The manifest is stored as its own bytes in the resources; take the one assembly block.
  manifest=$(tr -c '[:print:]\n' '\n' <"$exe" | sed -n '/<assembly /,/<\/assembly>/p')
  [ -n "$manifest" ]; check "$name: a manifest is embedded" $?
  grep -q 'requestedExecutionLevel level="requireAdministrator"' <<<"$manifest"
  check "$name: the manifest asks for administrator rights" $?
  tr '\n' ' ' <<<"$manifest" | grep -qE 'name="Microsoft\.Windows\.Common-Controls"[[:space:]]+version="6\.[0-9.]+"'
  check "$name: the manifest depends on common controls 6" $?
  # An architecture of its own in the dependency would make the other build ignore it.
  ! tr '\n' ' ' <<<"$manifest" | grep -qE 'Common-Controls"[^/]*processorArchitecture="(x86|amd64)"'
  check "$name: the dependency serves both builds (processorArchitecture=\"*\")" $?

  # Only DLLs the loader takes from the system whatever lies beside the program: the
  # KnownDLLs (the kernel, user, GDI, registry and security, shell, COM, common dialogs and
  # the C runtime) and comctl32, which the manifest binds to the side-by-side version 6.
  # Anything else (winmm, version, uxtheme, ...) would be searched for in the program's own
  # folder first: a DLL of that name in a download folder would run elevated.
  local allowed='^(kernel32|user32|gdi32|advapi32|shell32|ole32|comdlg32|msvcrt|comctl32)\.dll$'
  imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$private" | tr 'A-Z' 'a-z' | sort -u)
  [ -n "$imports" ]; check "$name: the import table is readable" $?
  extra=$(grep -vE "$allowed" <<<"$imports" || true)
  [ -n "$imports" ] && [ -z "$extra" ]; check "$name: imports only KnownDLLs and comctl32 (got: $(echo $imports))${extra:+; not allowed: $extra}" $?
  # DLLs loaded by name later (shell and COM calls) come from the system folder: the
  # program looks SetDefaultDllDirectories up at run time (it is missing before Windows 7).
  grep -aq 'SetDefaultDllDirectories' "$exe"; check "$name: restricts the DLL search (SetDefaultDllDirectories)" $?
}

for exe in "$SETUP_EXE" "$UNINST_EXE"; do
  [ -f "$exe" ] || { check "$exe is built" 1; continue; }
  pe_checks "$exe"
done

# talven-pack.exe: a console program for the same processor, one file needing only the
# system's DLLs (its C++ runtime, threads and zlib are linked in).
if [ -n "${TALVEN_PACK_EXE:-}" ]; then
  if [ -f "$TALVEN_PACK_EXE" ]; then
    private=$("$OBJDUMP" -p "$TALVEN_PACK_EXE")
    header=$("$OBJDUMP" -f "$TALVEN_PACK_EXE")
    if [ "$TARGET_BITS" = win32 ]; then want='pei-i386'; else want='pei-x86-64'; fi
    grep -q "file format $want" <<<"$header"; check "talven-pack.exe: $want" $?
    grep -qE '^Subsystem[[:space:]]+00000003' <<<"$private"; check "talven-pack.exe: console subsystem" $?
    imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$private" | tr 'A-Z' 'a-z' | sort -u)
    extra=$(grep -vE '^(kernel32|user32|gdi32|advapi32|shell32|msvcrt)\.dll$' <<<"$imports" || true)
    [ -n "$imports" ] && [ -z "$extra" ]
    check "talven-pack.exe: imports only system DLLs (got: $(echo $imports))${extra:+; not allowed: $extra}" $?
  else
    check "$TALVEN_PACK_EXE is built" 1
  fi
fi

# The trailer of an appended package: talven-pack lists the same entries from the
# appended program as from the package alone.
pack_log=$SCRATCH/sample-build.log
if bash "$REPO/examples/sample-game/build.sh" "$SCRATCH" "$TALVEN_PACK" >"$pack_log" 2>&1; then
  "$TALVEN_PACK" append "$SETUP_EXE" "$SCRATCH/instdat.arc" "$SCRATCH/setup.exe" >/dev/null
  "$TALVEN_PACK" list "$SCRATCH/instdat.arc" >"$SCRATCH/alone.txt"
  "$TALVEN_PACK" list "$SCRATCH/setup.exe" >"$SCRATCH/appended.txt"
  [ -s "$SCRATCH/alone.txt" ] && cmp -s "$SCRATCH/alone.txt" "$SCRATCH/appended.txt"
  check "talven-pack lists the appended package as the package alone ($(wc -l <"$SCRATCH/alone.txt") lines)" $?
  # The appended program still starts as the same program: its image is unchanged.
  cmp -s -n "$(stat -c %s "$SETUP_EXE")" "$SETUP_EXE" "$SCRATCH/setup.exe"
  check "appending leaves the program's own bytes unchanged" $?
else
  check "the sample game packs (see $pack_log)" 1
fi

exit $fail
