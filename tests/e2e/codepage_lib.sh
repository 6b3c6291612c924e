# Helpers of the tests that run the programs under another code page
# (tests/e2e/test_codepages_*.sh), sourced after lib.sh.
#
#   in_locale LOCALE CMD...        CMD with Wine under LOCALE (LC_ALL and LANG): Wine takes
#                                  the ANSI code page from it per process, in the same
#                                  prefix (ja_JP 932, en_US 1252, zh_CN 936, ko_KR 949)
#   acp_of LOCALE                  the code page Wine really gives a program under LOCALE
#   foreign_notice_lines COMMAND   driver lines: start COMMAND (UnInst.exe), see its
#                                  notice of a foreign code page and answer OK
#   text_foreign_notice            that notice's text, as a scenario takes it

in_locale() {
  local locale=$1
  shift
  LC_ALL=$locale LANG=$locale "$@"
}

acp_of() {
  [ -n "${ACP_PROBE_EXE:-}" ] && [ -f "$ACP_PROBE_EXE" ] || e2e_fail "acp_probe.exe is not built: '${ACP_PROBE_EXE:-}'"
  in_locale "$1" wine "$ACP_PROBE_EXE" </dev/null 2>/dev/null | tr -d '\r' | sed -n 's/^acp=\([0-9]*\).*/\1/p'
}

text_foreign_notice='このコンピューターの文字コードは日本語（コードページ932）ではありません。\nアンインストールは日本語のWindowsと同じように正しく行われます。\n\nThis computer does not use the Japanese code page (932). The uninstall works correctly as on Japanese Windows.'

foreign_notice_lines() {
  printf 'start "%s"\nwait-window class:#32770 "" 20\nexpect-text 65535 "%s"\nclick 1\nwait-gone 10\n' \
    "$(q "$1")" "$text_foreign_notice"
}
