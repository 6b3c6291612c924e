# Cross build: setup.exe, the Windows-side unit tests and the UI driver, all run under Wine.
enable_language(RC)
find_library(ZLIB_STATIC NAMES libz.a z REQUIRED)

# The Win32 halves of the core's own seams (the out-of-memory report, the resolver lock,
# the CD-ROM root, the message boxes, the owner window they need and the CP932<->UTF-16
# conversions they talk to Windows through) go into the core,
# as the host halves do on the host: the core links alone and setup_win builds on it.
set(core_seam_sources ${win_sources})
list(FILTER core_seam_sources INCLUDE REGEX "/(alloc|resolver_lock|markers|messages|services|wide)_win\\.cpp$")
list(REMOVE_ITEM win_sources ${core_seam_sources})
target_sources(talven_core PRIVATE ${core_seam_sources})
target_compile_options(talven_core PRIVATE -Os)
target_compile_definitions(talven_core PUBLIC WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0501 WINVER=0x0501 _WIN32_IE=0x0600)
target_link_libraries(talven_core PUBLIC ${ZLIB_STATIC} shell32 user32)

add_library(setup_win STATIC ${win_sources})
target_compile_options(setup_win PRIVATE ${CP932_FLAGS} ${WARN_FLAGS} -Os)
target_include_directories(setup_win PUBLIC ${CMAKE_SOURCE_DIR}/resources)
target_link_libraries(setup_win PUBLIC talven_core ole32 uuid shell32 comctl32 comdlg32 gdi32 user32 advapi32)

# The file-copy clip is drawn at build time by a small host program.
find_program(HOST_CXX NAMES g++ c++ REQUIRED NO_CMAKE_FIND_ROOT_PATH)
set(clip_dir ${CMAKE_BINARY_DIR}/resources)
set(clip_file ${clip_dir}/filecopy.avi)
add_custom_command(
  OUTPUT ${clip_file}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${clip_dir}
  COMMAND ${HOST_CXX} -std=c++17 -O2 -o ${clip_dir}/make-clip ${CMAKE_SOURCE_DIR}/tools/make-clip/make_clip.cpp
  COMMAND ${clip_dir}/make-clip ${clip_file}
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/make-clip/make_clip.cpp
  COMMENT "Drawing the file-copy clip")
add_custom_target(clip DEPENDS ${clip_file})

set(setup_rc ${CMAKE_SOURCE_DIR}/resources/setup.rc)
set_source_files_properties(${setup_rc} PROPERTIES OBJECT_DEPENDS
  "${clip_file};${CMAKE_SOURCE_DIR}/resources/setup.manifest;${CMAKE_SOURCE_DIR}/resources/resource_ids.h")

add_executable(setup WIN32 ${CMAKE_SOURCE_DIR}/src/startup/main_win.cpp ${setup_rc})
add_dependencies(setup clip)
target_include_directories(setup PRIVATE ${clip_dir} ${CMAKE_SOURCE_DIR}/resources)
target_compile_options(setup PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${CP932_FLAGS} ${WARN_FLAGS} -Os>)
target_link_libraries(setup PRIVATE setup_win)
# No link time in the PE header: the same sources give the same bytes.
target_link_options(setup PRIVATE -mwindows -s -Wl,--no-insert-timestamp)

# Proof that the core links alone: every object of it, nothing else of the program.
add_executable(core_alone ${CMAKE_SOURCE_DIR}/tests/link/core_alone.cpp)
target_link_libraries(core_alone PRIVATE -Wl,--whole-archive talven_core -Wl,--no-whole-archive ${ZLIB_STATIC} shell32 user32)
target_link_options(core_alone PRIVATE -mconsole)

# --- UnInst.exe: the uninstaller, from the same library ---------------------------------
set(uninst_rc ${CMAKE_SOURCE_DIR}/resources/uninst.rc)
set_source_files_properties(${uninst_rc} PROPERTIES OBJECT_DEPENDS ${CMAKE_SOURCE_DIR}/resources/uninst.manifest)
add_executable(UnInst WIN32 ${CMAKE_SOURCE_DIR}/src/uninstall/main_win.cpp ${uninst_rc})
target_include_directories(UnInst PRIVATE ${CMAKE_SOURCE_DIR}/resources)
target_compile_options(UnInst PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${CP932_FLAGS} ${WARN_FLAGS} -Os>)
target_link_libraries(UnInst PRIVATE setup_win)
target_link_options(UnInst PRIVATE -mwindows -s -Wl,--no-insert-timestamp)
# --- end of UnInst.exe ---------------------------------------------------------------------

# --- talven-pack.exe: the maker's tool for Windows -----------------------------------------
# A build of its own (cmake/tool-win.cmake) with the posix-thread compilers, for the same
# processor as this folder's programs so that this folder's rig runs it; the program lands
# beside setup.exe and UnInst.exe, where `medium` looks for them.
include(ExternalProject)
set(talven_pack_exe ${CMAKE_BINARY_DIR}/talven-pack.exe)
ExternalProject_Add(talven_pack_exe
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${CMAKE_BINARY_DIR}/talven-pack-build
  CMAKE_ARGS -DTOOL_ONLY=ON -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-${CMAKE_SYSTEM_PROCESSOR}-posix.cmake
    -DCMAKE_RUNTIME_OUTPUT_DIRECTORY=${CMAKE_BINARY_DIR}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${talven_pack_exe})

# `cmake --build build/win32 --target release`: the makers' downloads in build/win32/release
# (a folder and an archive per platform: scripts/release.sh).
if(NOT HOST_BUILD_DIR)
  set(HOST_BUILD_DIR ${CMAKE_SOURCE_DIR}/build/host)
endif()
add_custom_target(release
  COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/release.sh ${CMAKE_BINARY_DIR}/release ${CMAKE_BINARY_DIR} ${HOST_BUILD_DIR}
  DEPENDS setup UnInst talven_pack_exe
  COMMENT "Laying out the releases in ${CMAKE_BINARY_DIR}/release"
  VERBATIM)

include(cmake/wine-tests.cmake OPTIONAL)
