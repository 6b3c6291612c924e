# Cross toolchain for the x86_64 build of the same sources: the test fallback on hosts
# that cannot run 32-bit programs. It is never shipped.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
