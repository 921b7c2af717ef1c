# Cross build of the Windows programs from Debian with MinGW-w64; CTest runs
# the resulting .exe files under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(SIZESTAMP_MINGW_TRIPLET x86_64-w64-mingw32)
# The shipped programs come from the win32 thread model: a single-threaded
# program then carries no winpthreads, neither its code nor its notice nor its
# thread-control imports. GCC 12 has std::mutex and std::thread only in the
# posix model, which GoogleTest and the field check need: the windows-unit
# preset builds them with those compilers.
set(SIZESTAMP_MINGW_THREADS win32 CACHE STRING "Thread model of the MinGW-w64 compilers: win32 or posix")
set_property(CACHE SIZESTAMP_MINGW_THREADS PROPERTY STRINGS win32 posix)
# The checks CMake compiles use the same compilers.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SIZESTAMP_MINGW_THREADS)
set(CMAKE_C_COMPILER ${SIZESTAMP_MINGW_TRIPLET}-gcc-${SIZESTAMP_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${SIZESTAMP_MINGW_TRIPLET}-g++-${SIZESTAMP_MINGW_THREADS})
set(CMAKE_RC_COMPILER ${SIZESTAMP_MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${SIZESTAMP_MINGW_TRIPLET}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${SIZESTAMP_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program, tests included, carries its C++ runtime inside: nothing needs
# MinGW's DLLs on the PATH, under Wine or on a user's machine.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# One Wine prefix per build tree. CTest starts every Windows program through
# scripts/wine, which holds the environment all uses of Wine share and makes
# the prefix ready on first use.
set(SIZESTAMP_WINEPREFIX ${CMAKE_BINARY_DIR}/wine-prefix CACHE PATH "Wine prefix the tests run in")
cmake_path(SET SIZESTAMP_WINE NORMALIZE ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine)
set(CMAKE_CROSSCOMPILING_EMULATOR ${SIZESTAMP_WINE} ${SIZESTAMP_WINEPREFIX})
