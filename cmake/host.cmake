# Native build: the portable core, the maker's tools and the host unit tests.
find_package(ZLIB REQUIRED)
find_package(PNG REQUIRED)
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

target_sources(talven_core PRIVATE ${host_sources})
target_link_libraries(talven_core PUBLIC ZLIB::ZLIB)

file(GLOB talven_pack_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/talven-pack/*.cpp)
# NAME_win.cpp is the Windows side of a seam of the tool (its Linux side: NAME_host.cpp);
# the compression and PNG halves are chosen per program below.
list(FILTER talven_pack_sources EXCLUDE REGEX "(_win|/compress_zlib|/compress_libdeflate|/png_zlib)\\.cpp$")
if(talven_pack_sources)
  add_library(talven_pack_parts OBJECT ${talven_pack_sources})
  target_compile_options(talven_pack_parts PRIVATE ${WARN_FLAGS})
  # medium looks for the setup.exe built from this tree (build/win32) when given none,
  # as a path from the tool's own folder, so that no checkout's path is in the binary.
  file(RELATIVE_PATH source_from_tool ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
  target_compile_definitions(talven_pack_parts PRIVATE TALVEN_SOURCE_FROM_TOOL="${source_from_tool}")
  target_link_libraries(talven_pack_parts PUBLIC talven_core PNG::PNG Threads::Threads)
  # libdeflate packs faster than zlib at the same size; the installer itself keeps zlib.
  find_library(LIBDEFLATE_LIBRARY NAMES deflate REQUIRED)
  find_path(LIBDEFLATE_INCLUDE_DIR libdeflate.h REQUIRED)
  add_executable(talven-pack ${CMAKE_SOURCE_DIR}/tools/talven-pack/compress_libdeflate.cpp)
  target_include_directories(talven-pack PRIVATE ${LIBDEFLATE_INCLUDE_DIR})
  target_link_libraries(talven-pack PRIVATE talven_pack_parts ${LIBDEFLATE_LIBRARY})
  # The same tool on zlib alone, as the Windows build packs: their packages must be the
  # same bytes (tests/e2e/test_medium_exe.sh).
  add_executable(talven-pack-zlib ${CMAKE_SOURCE_DIR}/tools/talven-pack/compress_zlib.cpp)
  target_link_libraries(talven-pack-zlib PRIVATE talven_pack_parts)
  foreach(tool talven-pack talven-pack-zlib)
    target_compile_options(${tool} PRIVATE ${WARN_FLAGS})
  endforeach()
endif()

file(GLOB host_test_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/host/*.cpp)
if(host_test_sources)
  add_executable(host_tests ${host_test_sources})
  # Tests compare against CP932 literals, so they are compiled like the core.
  target_compile_options(host_tests PRIVATE ${CP932_FLAGS} ${WARN_FLAGS})
  target_compile_definitions(host_tests PRIVATE
    TALVEN_PACK_EXE="$<$<TARGET_EXISTS:talven-pack>:$<TARGET_FILE:talven-pack>>"
    TEST_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  target_link_libraries(host_tests PRIVATE talven_core GTest::gtest GTest::gtest_main)
  # The tool's pattern matcher is checked against the C library's fnmatch.
  target_sources(host_tests PRIVATE ${CMAKE_SOURCE_DIR}/tools/talven-pack/pattern.cpp)
  target_include_directories(host_tests PRIVATE ${CMAKE_SOURCE_DIR}/tools/talven-pack)
  include(GoogleTest)
  gtest_discover_tests(host_tests DISCOVERY_TIMEOUT 60)
endif()

file(GLOB bench_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/bench/*_host.cpp)
foreach(src ${bench_sources})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  target_compile_options(${name} PRIVATE ${CP932_FLAGS})
  target_link_libraries(${name} PRIVATE talven_core)
endforeach()

# Proof that the core links alone: every object of it, nothing else of the program.
add_executable(core_alone ${CMAKE_SOURCE_DIR}/tests/link/core_alone.cpp)
target_link_libraries(core_alone PRIVATE -Wl,--whole-archive talven_core -Wl,--no-whole-archive ZLIB::ZLIB)
add_test(NAME core.links_alone COMMAND core_alone)

# The floor (src/base) includes nothing above it and no header includes itself round about.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  add_test(NAME static.include_graph COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/include_graph.py --check)
endif()
