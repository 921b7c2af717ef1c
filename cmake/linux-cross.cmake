# What the Linux cross toolchain files share: Debian's cross compiler for
# SIZESTAMP_CROSS_TRIPLET, and QEMU's user mode emulation, which CTest runs
# the resulting programs under. Without QEMU the build works all the same;
# tests/CMakeLists.txt leaves out the tests that run programs.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${SIZESTAMP_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${SIZESTAMP_CROSS_TRIPLET}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${SIZESTAMP_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The static program needs nothing else; -L finds the loader and the shared
# libraries of the cross C library for the dynamically linked ones (the unit
# tests, a build with SIZESTAMP_STATIC off).
find_program(SIZESTAMP_QEMU ${SIZESTAMP_QEMU_NAME})
if(SIZESTAMP_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SIZESTAMP_QEMU} -L ${CMAKE_FIND_ROOT_PATH})
endif()
