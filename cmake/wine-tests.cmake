# Windows-side tests, all run under Wine through scripts/wine-rig.sh:
#   win_tests.exe   GoogleTest cases from tests/win/*.cpp (one CTest test per suite)
#   uidriver.exe    the UI driver of the end-to-end tests (tests/e2e/uidriver.cpp)
#   e2e.<name>      every tests/e2e/test_*.sh, run with the rig's environment
# Every Wine test shares one prefix, one display and one wineserver: the rig fixture
# starts them once and stops them at the end, and RESOURCE_LOCK wine keeps the tests
# from running at the same time.

set(wine_rig ${CMAKE_SOURCE_DIR}/scripts/wine-rig.sh)
set(wine_rig_dir ${CMAKE_BINARY_DIR})
if(NOT HOST_BUILD_DIR)
  set(HOST_BUILD_DIR ${CMAKE_SOURCE_DIR}/build/host)
endif()

add_test(NAME rig.start COMMAND bash ${wine_rig} start ${wine_rig_dir})
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
  target_link_libraries(win_tests PRIVATE setup_win gtest_main gtest)
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

# --- The UI driver -------------------------------------------------------------------------
add_executable(uidriver ${CMAKE_SOURCE_DIR}/tests/e2e/uidriver.cpp)
target_compile_options(uidriver PRIVATE ${WARN_FLAGS} -Os)
target_compile_definitions(uidriver PRIVATE WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0501 WINVER=0x0501)
target_link_libraries(uidriver PRIVATE user32 gdi32 kernel32)
target_link_options(uidriver PRIVATE -mconsole)

# --- End-to-end tests --------------------------------------------------------------------
file(GLOB e2e_tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/test_*.sh)
foreach(script ${e2e_tests})
  get_filename_component(name ${script} NAME_WE)
  string(REGEX REPLACE "^test_" "" name ${name})
  set(scratch ${CMAKE_BINARY_DIR}/e2e/${name})
  add_test(NAME e2e.${name}
    COMMAND bash ${wine_rig} run ${wine_rig_dir} bash ${script}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  wine_test_properties(e2e.${name} 300)
  set_tests_properties(e2e.${name} PROPERTIES ENVIRONMENT
    "SETUP_EXE=$<TARGET_FILE:setup>;UNINST_EXE=$<TARGET_FILE:UnInst>;UIDRIVER_EXE=$<TARGET_FILE:uidriver>;TALVEN_PACK=${HOST_BUILD_DIR}/talven-pack;REPO=${CMAKE_SOURCE_DIR};E2E_NAME=${name};E2E_SCRATCH=${scratch};E2E_LIB=${CMAKE_SOURCE_DIR}/tests/e2e/lib.sh")
endforeach()
