# sizestamp.exe: a GUI-subsystem program (no console window) with its version
# information and application manifest embedded.
enable_language(RC)

set(SIZESTAMP_RESOURCES ${CMAKE_CURRENT_LIST_DIR}/../src/platform)
configure_file(${SIZESTAMP_RESOURCES}/sizestamp.exe.manifest.in ${CMAKE_CURRENT_BINARY_DIR}/sizestamp.exe.manifest
               @ONLY)
configure_file(${SIZESTAMP_RESOURCES}/sizestamp.rc.in ${CMAKE_CURRENT_BINARY_DIR}/sizestamp.rc @ONLY)
set_property(SOURCE ${CMAKE_CURRENT_BINARY_DIR}/sizestamp.rc APPEND PROPERTY OBJECT_DEPENDS
             ${CMAKE_CURRENT_BINARY_DIR}/sizestamp.exe.manifest)

add_executable(sizestamp WIN32 src/platform/platform_win32.cpp ${CMAKE_CURRENT_BINARY_DIR}/sizestamp.rc)
target_link_libraries(sizestamp PRIVATE sizestamp_logic)
# wWinMain takes the wide command line; -static keeps MinGW's DLLs out of the imports.
# MinGW's static runtime carries its debug information, which alone would put
# the program over 1 MiB: builds without debug information of their own drop it.
target_link_options(sizestamp PRIVATE -municode -static $<$<CONFIG:Release,MinSizeRel>:-s>)
