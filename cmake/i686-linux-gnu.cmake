# Cross build of the native program for Linux on i386 (32-bit x86) from
# Debian with its cross compiler (g++-i686-linux-gnu); CTest runs the
# resulting programs under QEMU's user mode emulation where it is installed,
# as a 64-bit kernel may not run 32-bit programs itself.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(SIZESTAMP_CROSS_TRIPLET i686-linux-gnu)
set(SIZESTAMP_QEMU_NAME qemu-i386-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
