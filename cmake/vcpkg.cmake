# Included before project(). On Windows, GoogleTest for an MSVC build comes
# from vcpkg, which installs what vcpkg.json names. When VCPKG_ROOT names a
# vcpkg (Visual Studio's developer prompt sets it to the one it bundles) and
# no toolchain file is given, vcpkg's is used. MSYS2's shells (MSYSTEM set)
# take GoogleTest from pacman instead.
if(CMAKE_HOST_WIN32 AND NOT DEFINED CMAKE_TOOLCHAIN_FILE AND DEFINED ENV{VCPKG_ROOT}
   AND NOT DEFINED ENV{MSYSTEM})
  file(TO_CMAKE_PATH "$ENV{VCPKG_ROOT}/scripts/buildsystems/vcpkg.cmake" vcpkg_toolchain)
  if(EXISTS "${vcpkg_toolchain}")
    set(CMAKE_TOOLCHAIN_FILE "${vcpkg_toolchain}" CACHE FILEPATH "vcpkg's toolchain file")
  endif()
endif()

# The shipped programs carry Microsoft's C and C++ runtime inside them, as
# MinGW's programs carry theirs, so that they need no redistributable
# (CMakeLists.txt). GoogleTest must be built with the same runtime: vcpkg's
# -static triplet for the target's processor.
if(CMAKE_TOOLCHAIN_FILE MATCHES "vcpkg\\.cmake$" AND NOT DEFINED VCPKG_TARGET_TRIPLET
   AND (NOT DEFINED SIZESTAMP_STATIC OR SIZESTAMP_STATIC))
  set(processor "${CMAKE_GENERATOR_PLATFORM}")
  if(NOT processor)
    set(processor "$ENV{PROCESSOR_ARCHITECTURE}")
  endif()
  string(TOLOWER "${processor}" processor)
  if(processor MATCHES "^(x64|amd64)$")
    set(VCPKG_TARGET_TRIPLET x64-windows-static)
  elseif(processor STREQUAL "arm64")
    set(VCPKG_TARGET_TRIPLET arm64-windows-static)
  elseif(processor MATCHES "^(win32|x86)$")
    set(VCPKG_TARGET_TRIPLET x86-windows-static)
  endif()
endif()
