#!/usr/bin/env bash
# Nothing of setup.exe or UnInst.exe goes through the system's ANSI code page: neither
# imports a function of the A (ANSI) kind that takes or gives text, so on a system whose
# code page is not 932 no name or text is converted by the system's rules instead of the
# programs' own (code page 932, refusing what has no exact form).
# Environment (from cmake/wine-tests.cmake): SETUP_EXE UNINST_EXE OBJDUMP.
set -uo pipefail

# Imports of the C runtime's and the compiler's own start-up code, each with no text of
# ours: the show flags of the start-up record, and the fixed ASCII name of the compiler's
# unwinding DLL (looked up, and pinned if it is already loaded).
allowed='^(GetStartupInfoA|GetModuleHandleA|LoadLibraryA)$'

fail=0
for v in SETUP_EXE UNINST_EXE OBJDUMP; do
  [ -n "${!v:-}" ] || { echo "FAIL: $v is not set (run through ctest)" >&2; exit 1; }
done
for exe in "$SETUP_EXE" "$UNINST_EXE"; do
  name=$(basename "$exe")
  [ -f "$exe" ] || { echo "FAIL: $exe is not built" >&2; fail=1; continue; }
  # The import table lists, under each "DLL Name:", rows of hint and function name.
  imports=$("$OBJDUMP" -p "$exe" | awk '/DLL Name:/ { dll = $3; next }
    dll != "" && NF == 3 && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ { print $3 }' | sort -u)
  if [ -z "$imports" ]; then
    echo "FAIL: $name: no imports read" >&2
    fail=1
    continue
  fi
  ansi=$(grep -E '[a-z0-9]A$' <<<"$imports" | grep -vE "$allowed" || true)
  if [ -n "$ansi" ]; then
    echo "FAIL: $name imports ANSI functions: $(echo $ansi)" >&2
    fail=1
  else
    echo "ok:   $name: $(wc -l <<<"$imports") imports, no ANSI function taking text"
  fi
done
exit $fail
