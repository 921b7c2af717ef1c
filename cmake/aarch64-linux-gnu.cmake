# Cross build of the native program for Linux on arm64 (aarch64) from Debian
# with its cross compiler; CTest runs the resulting programs under QEMU's user
# mode emulation.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(SIZESTAMP_CROSS_TRIPLET aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${SIZESTAMP_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${SIZESTAMP_CROSS_TRIPLET}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${SIZESTAMP_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The static program needs nothing else; -L finds the loader and the shared
# libraries of the arm64 C library for the dynamically linked ones (the unit
# tests, a build with SIZESTAMP_STATIC off).
find_program(SIZESTAMP_QEMU qemu-aarch64-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${SIZESTAMP_QEMU} -L ${CMAKE_FIND_ROOT_PATH})

