# Cross build of the Windows program from Debian with MinGW-w64 (posix thread
# model); CTest runs the resulting .exe files under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(SIZESTAMP_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${SIZESTAMP_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SIZESTAMP_MINGW_TRIPLET}-g++-posix)
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
