# The posix-thread variant of the i686 mingw-w64 compilers, for talven-pack.exe alone: its
# packing threads need std::thread, which the win32 thread model of the installer's
# compilers lacks (winpthreads is linked statically, so the program stays one file).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
