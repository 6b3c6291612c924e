# Windows-side tests, all run under Wine through scripts/wine-rig.sh:
#   win_tests.exe   GoogleTest cases from tests/win/*.cpp (one CTest test per suite)
#   uidriver.exe    the UI driver of the end-to-end tests (tests/e2e/uidriver.cpp), and the
#                   tests' inspection program and probe (tests/e2e/examine.c, probe.c)
#   e2e.<name>      every tests/e2e/test_*.sh, run with the rig's environment
#   security.<name> every tests/e2e/security_*.sh, the same way
#   wow64.<name>    (i686 build) every tests/e2e/wow64_*.sh, run in a second rig whose
#                   prefix is 64-bit, as a player's Windows is
#   static.<name>   checks of the built programs that need no Wine (tests/static/*.sh)
# The rig's prefix matches the build: 32-bit for i686, 64-bit with the 64-bit loader for
# the x86_64 fallback (scripts/wine-rig.sh kind).
# Every Wine test shares one prefix, one display and one wineserver: the rig fixture
# starts them once and stops them at the end, and RESOURCE_LOCK wine keeps the tests
# from running at the same time.

set(wine_rig ${CMAKE_SOURCE_DIR}/scripts/wine-rig.sh)
set(wine_rig_dir ${CMAKE_BINARY_DIR})
if(NOT HOST_BUILD_DIR)
  set(HOST_BUILD_DIR ${CMAKE_SOURCE_DIR}/build/host)
endif()

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(rig_kind win64)
else()
  set(rig_kind win32)
endif()

add_test(NAME rig.start COMMAND bash ${wine_rig} start ${wine_rig_dir} ${rig_kind})
set_tests_properties(rig.start PROPERTIES FIXTURES_SETUP wine_rig RESOURCE_LOCK wine TIMEOUT 300)
add_test(NAME rig.stop COMMAND bash ${wine_rig} stop ${wine_rig_dir})
set_tests_properties(rig.stop PROPERTIES FIXTURES_CLEANUP wine_rig RESOURCE_LOCK wine TIMEOUT 60)

function(wine_test_properties name timeout)
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED wine_rig RESOURCE_LOCK wine TIMEOUT ${timeout})
endfunction()

# --- GoogleTest cross-built from Debian's sources --------------------------------------
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# The win32 thread model of the cross compiler has no std::mutex or condition_variable.
# GoogleTest's Windows build needs them only for its Notification (used by its own
# thread helpers, not by our tests), and lets a port supply that class instead.
set(gtest_notification ${CMAKE_BINARY_DIR}/gtest-notification.h)
file(WRITE ${gtest_notification} [=[
#pragma once
namespace testing {
namespace internal {
class Notification {
 public:
  Notification() : notified_(false) {}
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;
  void Notify() { __atomic_store_n(&notified_, true, __ATOMIC_SEQ_CST); }
  void WaitForNotification() {
    while (!__atomic_load_n(&notified_, __ATOMIC_SEQ_CST)) {
    }
  }
 private:
  bool notified_;
};
}  // namespace internal
}  // namespace testing
#define GTEST_HAS_NOTIFICATION_ 1
]=])
target_compile_options(gtest PUBLIC "SHELL:-include ${gtest_notification}")

# The resources (dialog templates, the clip) go into the test program too, so that the
# progress dialogs can be opened from a test exactly as setup.exe opens them.
file(GLOB win_test_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win/*.cpp)
if(win_test_sources)
  add_executable(win_tests ${win_test_sources} ${setup_rc})
  add_dependencies(win_tests clip)
  target_include_directories(win_tests PRIVATE ${clip_dir} ${CMAKE_SOURCE_DIR}/resources)
  target_compile_options(win_tests PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${CP932_FLAGS} ${WARN_FLAGS}>)
  target_compile_definitions(win_tests PRIVATE TEST_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  target_link_libraries(win_tests PRIVATE setup_win gtest_main gtest uxtheme)
  set_target_properties(win_tests PROPERTIES OUTPUT_NAME win_tests)

  # One CTest test per suite, found by reading the sources (the program cannot be run at
  # configure time). Editing a test file re-runs the configuration so new suites appear.
  set(win_suites)
  foreach(src ${win_test_sources})
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${src})
    file(STRINGS ${src} lines REGEX "^[ \t]*TEST(_F|_P)?[ \t]*\\([ \t]*[A-Za-z_][A-Za-z0-9_]*[ \t]*,")
    foreach(line ${lines})
      string(REGEX REPLACE "^[ \t]*TEST(_F|_P)?[ \t]*\\([ \t]*([A-Za-z_][A-Za-z0-9_]*).*" "\\2" suite "${line}")
      list(APPEND win_suites ${suite})
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES win_suites)
  foreach(suite ${win_suites})
    add_test(NAME win.${suite}
      COMMAND bash ${wine_rig} run ${wine_rig_dir} wine $<TARGET_FILE:win_tests> --gtest_filter=${suite}.*:*/${suite}.*
      WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
    wine_test_properties(win.${suite} 300)
    # A filter that matches nothing passes in GoogleTest; here it is a failure.
    set_tests_properties(win.${suite} PROPERTIES FAIL_REGULAR_EXPRESSION "\\[==========\\] 0 tests from")
  endforeach()
endif()

# --- The UI driver and the tests' helper programs ----------------------------------------
add_executable(uidriver ${CMAKE_SOURCE_DIR}/tests/e2e/uidriver.cpp)
target_compile_options(uidriver PRIVATE ${WARN_FLAGS} -Os)
target_compile_definitions(uidriver PRIVATE WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0501 WINVER=0x0501)
target_link_libraries(uidriver PRIVATE user32 gdi32 kernel32)
target_link_options(uidriver PRIVATE -mconsole)

add_executable(e2e_inspect ${CMAKE_SOURCE_DIR}/tests/e2e/examine.c)
target_link_libraries(e2e_inspect PRIVATE ole32 uuid shell32 advapi32 user32)
set_target_properties(e2e_inspect PROPERTIES OUTPUT_NAME inspect)
add_executable(e2e_probe ${CMAKE_SOURCE_DIR}/tests/e2e/probe.c)
set_target_properties(e2e_probe PROPERTIES OUTPUT_NAME probe)
foreach(helper uidriver e2e_inspect e2e_probe)
  target_link_options(${helper} PRIVATE -mconsole)
endforeach()
# The code-page probes and the UTF-8 copies of the programs.
include(${CMAKE_SOURCE_DIR}/tests/e2e/codepages.cmake)

# --- Control ids for the scripts ----------------------------------------------------------
# The dialogs' control ids as shell variables (IDC_NAME=VALUE), read from the header the
# programs are built with, so that a scenario names a control and follows it when it moves.
file(STRINGS ${CMAKE_SOURCE_DIR}/resources/resource_ids.h id_defines REGEX "^#define IDC_[A-Z0-9_]+ +[0-9]+")
set(id_assignments "# Made by cmake/wine-tests.cmake from resources/resource_ids.h; sourced by tests/e2e/scenarios.sh.\n")
foreach(define IN LISTS id_defines)
  string(REGEX REPLACE "^#define (IDC_[A-Z0-9_]+) +([0-9]+).*" "\\1=\\2" assignment "${define}")
  string(APPEND id_assignments "${assignment}\n")
endforeach()
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/e2e_ids.sh CONTENT "${id_assignments}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/resource_ids.h)

# --- End-to-end tests --------------------------------------------------------------------
# e2e_tests(PREFIX GLOB_PREFIX RIG_DIR FIXTURE LOCK): one test per script, run in that rig.
function(e2e_tests prefix glob_prefix rig_dir fixture lock)
  file(GLOB scripts CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/${glob_prefix}*.sh)
  foreach(script ${scripts})
    get_filename_component(name ${script} NAME_WE)
    string(REGEX REPLACE "^${glob_prefix}" "" name ${name})
    set(scratch ${CMAKE_BINARY_DIR}/${prefix}/${name})
    add_test(NAME ${prefix}.${name}
      COMMAND bash ${wine_rig} run ${rig_dir} bash ${script}
      WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
    set_tests_properties(${prefix}.${name} PROPERTIES
      FIXTURES_REQUIRED ${fixture} RESOURCE_LOCK ${lock} TIMEOUT 300
      ENVIRONMENT "SETUP_EXE=$<TARGET_FILE:setup>;UNINST_EXE=$<TARGET_FILE:UnInst>;UIDRIVER_EXE=$<TARGET_FILE:uidriver>;INSPECT_EXE=$<TARGET_FILE:e2e_inspect>;PROBE_EXE=$<TARGET_FILE:e2e_probe>;ACP_PROBE_EXE=$<TARGET_FILE:acp_probe>;ACP_PROBE_UTF8_EXE=$<TARGET_FILE:acp_probe_utf8>;SETUP_UTF8_EXE=$<TARGET_FILE:setup_utf8>;UNINST_UTF8_EXE=$<TARGET_FILE:UnInst_utf8>;TALVEN_PACK=${HOST_BUILD_DIR}/talven-pack;TALVEN_PACK_ZLIB=${HOST_BUILD_DIR}/talven-pack-zlib;TALVEN_PACK_EXE=${talven_pack_exe};REPO=${CMAKE_SOURCE_DIR};E2E_NAME=${name};E2E_SCRATCH=${scratch};E2E_LIB=${CMAKE_SOURCE_DIR}/tests/e2e/lib.sh;E2E_IDS=${CMAKE_BINARY_DIR}/e2e_ids.sh")
  endforeach()
endfunction()

e2e_tests(e2e test_ ${wine_rig_dir} wine_rig wine)
# What the programs refuse to touch (tests/e2e/security_*.sh), in the same rig.
e2e_tests(security security_ ${wine_rig_dir} wine_rig wine)

# The shipped 32-bit programs in a 64-bit prefix as well: registry redirection, Program
# Files (x86), SysWOW64. Only the i686 build, and only where 32-bit programs run (the
# host decides whether this build's Wine tests run at all).
if(rig_kind STREQUAL "win32")
  set(wow64_rig_dir ${CMAKE_BINARY_DIR}/wow64)
  add_test(NAME wow64.rig.start COMMAND bash ${wine_rig} start ${wow64_rig_dir} wow64)
  set_tests_properties(wow64.rig.start PROPERTIES FIXTURES_SETUP wow64_rig RESOURCE_LOCK wine TIMEOUT 300)
  add_test(NAME wow64.rig.stop COMMAND bash ${wine_rig} stop ${wow64_rig_dir})
  set_tests_properties(wow64.rig.stop PROPERTIES FIXTURES_CLEANUP wow64_rig RESOURCE_LOCK wine TIMEOUT 60)
  e2e_tests(wow64 wow64_ ${wow64_rig_dir} wow64_rig wine)
endif()

# --- The kit's host tests against talven-pack.exe ----------------------------------------
# The host build's host_tests run every talven-pack case with TALVEN_PACK_UNDER_TEST naming
# a wrapper that starts talven-pack.exe in this rig; TALVEN_PACK_WINDOWS tells the cases
# that cannot be made on Windows (names it cannot hold, POSIX signals, a pseudo-terminal, an ISO image) to skip those parts.
set(talven_pack_wine ${CMAKE_BINARY_DIR}/talven-pack-wine)
file(WRITE ${talven_pack_wine} "#!/bin/sh\n# talven-pack.exe under the Wine rig of ${CMAKE_BINARY_DIR}\nexec wine '${talven_pack_exe}' \"$@\"\n")
file(CHMOD ${talven_pack_wine} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
add_test(NAME kit.talven_pack_exe
  COMMAND bash ${wine_rig} run ${wine_rig_dir} env TALVEN_PACK_UNDER_TEST=${talven_pack_wine} TALVEN_PACK_WINDOWS=1
    ${HOST_BUILD_DIR}/host_tests --gtest_filter=TalvenPack*
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
wine_test_properties(kit.talven_pack_exe 600)

# --- Static checks of the built programs (no Wine) ----------------------------------------
file(GLOB static_checks CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/static/*.sh)
foreach(script ${static_checks})
  get_filename_component(name ${script} NAME_WE)
  add_test(NAME static.${name} COMMAND bash ${script}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  set_tests_properties(static.${name} PROPERTIES LABELS static TIMEOUT 120 ENVIRONMENT
    "SETUP_EXE=$<TARGET_FILE:setup>;UNINST_EXE=$<TARGET_FILE:UnInst>;TALVEN_PACK_EXE=${talven_pack_exe};OBJDUMP=${CMAKE_OBJDUMP};TALVEN_PACK=${HOST_BUILD_DIR}/talven-pack;REPO=${CMAKE_SOURCE_DIR};SCRATCH=${CMAKE_BINARY_DIR}/static/${name};TARGET_BITS=${rig_kind}")
endforeach()
