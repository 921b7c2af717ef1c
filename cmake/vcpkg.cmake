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
