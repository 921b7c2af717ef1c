# Cross build of the native program for Linux on arm64 (aarch64) from Debian
# with its cross compiler; CTest runs the resulting programs under QEMU's user
# mode emulation where it is installed.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(SIZESTAMP_CROSS_TRIPLET aarch64-linux-gnu)
set(SIZESTAMP_QEMU_NAME qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
