# talven-pack.exe: the maker's tool for Windows, configured by windows.cmake as a build of
# its own (TOOL_ONLY) with the posix-thread compilers. The portable core and the tool's
# portable files as on Linux; the *_win.cpp halves of the tool's seams; zlib for every
# entry (no libdeflate for mingw-w64 here) and PNG pictures on zlib (no libpng either).
find_library(ZLIB_STATIC NAMES libz.a z REQUIRED)
set(core_seam_sources ${win_sources})
list(FILTER core_seam_sources INCLUDE REGEX "/(alloc|resolver_lock|markers|messages|services|wide)_win\\.cpp$")
target_sources(talven_core PRIVATE ${core_seam_sources})
target_compile_definitions(talven_core PUBLIC WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601 WINVER=0x0601)
target_link_libraries(talven_core PUBLIC ${ZLIB_STATIC} shell32 user32)

file(GLOB tool_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/talven-pack/*.cpp)
list(FILTER tool_sources EXCLUDE REGEX "(_host|/compress_libdeflate|/png_libpng)\\.cpp$")
add_executable(talven-pack ${tool_sources})
target_compile_options(talven-pack PRIVATE ${WARN_FLAGS} -municode)
target_compile_definitions(talven-pack PRIVATE _POSIX_THREAD_SAFE_FUNCTIONS)
target_link_libraries(talven-pack PRIVATE talven_core)
target_link_options(talven-pack PRIVATE -municode -mconsole -s -Wl,--no-insert-timestamp)
