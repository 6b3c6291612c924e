# libFuzzer harnesses: every tests/fuzz/fuzz_*.cpp becomes one program, linked with the
# portable core built with the same instrumentation (coverage, ASan, UBSan). clang only:
# configure with the `fuzz` preset; scripts/fuzz.sh builds and runs them.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "FUZZ=ON needs clang (the fuzz preset selects clang-14)")
endif()
find_package(ZLIB REQUIRED)

# clang converts literals to UTF-8 only, so the core keeps its source bytes here: texts
# shown to the user differ, the parsers' rules do not (they search for ASCII bytes).
get_target_property(core_options talven_core COMPILE_OPTIONS)
list(REMOVE_ITEM core_options -fexec-charset=CP932)
set_target_properties(talven_core PROPERTIES COMPILE_OPTIONS "${core_options}")

# Any undefined behaviour stops the run, so libFuzzer keeps the input as a finding.
set(FUZZ_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
target_sources(talven_core PRIVATE ${host_sources})
target_link_libraries(talven_core PUBLIC ZLIB::ZLIB)
target_compile_options(talven_core PRIVATE -fsanitize=fuzzer-no-link ${FUZZ_SANITIZERS})

file(GLOB fuzz_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz_*.cpp)
set(FUZZ_HARNESSES "")
foreach(src ${fuzz_sources})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer ${FUZZ_SANITIZERS} ${WARN_FLAGS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer ${FUZZ_SANITIZERS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/fuzz)
  target_link_libraries(${name} PRIVATE talven_core)
  list(APPEND FUZZ_HARNESSES ${name})
endforeach()
add_custom_target(fuzz_harnesses DEPENDS ${FUZZ_HARNESSES})
