# Install rules and the packages CPack builds from them: a .deb on Linux and a
# .zip on Windows. The version is PROJECT_VERSION, nothing else.
include(GNUInstallDirs)

set(SIZESTAMP_MAINTAINER "sizestamp developers <sizestamp@users.noreply.github.com>"
    CACHE STRING "Maintainer named in the Debian package: Name <address>")

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the sizestamp developers")
set(CPACK_PACKAGE_CONTACT "${SIZESTAMP_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_RESOURCE_FILE_README "${PROJECT_SOURCE_DIR}/README.md")
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES TRUE)

if(WIN32)
  # Unzipped, the program stands beside its papers, named so that a double
  # click opens them in a text editor.
  install(TARGETS sizestamp RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . RENAME README.txt)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
else()
  configure_file(${PROJECT_SOURCE_DIR}/man/sizestamp.1.in ${PROJECT_BINARY_DIR}/man/sizestamp.1 @ONLY)
  install(TARGETS sizestamp RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_BINARY_DIR}/man/sizestamp.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

  # Debian's own files: the copyright in its machine-readable form, the
  # changelog, and the override for the static link (reason inside).
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
  string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" _ "${license}")
  set(SIZESTAMP_COPYRIGHT "${CMAKE_MATCH_1}")
  string(REGEX REPLACE "^.*Copyright \\(c\\) [^\n]*\n\n" "" license "${license}")
  string(STRIP "${license}" license)
  string(REGEX REPLACE "\n\n" "\n.\n" license "${license}")
  string(REPLACE "\n" "\n " license "${license}")
  set(SIZESTAMP_LICENSE_TEXT " ${license}")
  string(TIMESTAMP SIZESTAMP_RELEASE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  # Laid out as they go under the prefix; CPack's pre-build script adds them.
  set(debian_files ${PROJECT_BINARY_DIR}/packaging/debian)
  set(debian_doc ${debian_files}/${CMAKE_INSTALL_DOCDIR})
  configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright.in ${debian_doc}/copyright @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${debian_doc}/changelog @ONLY)
  if(SIZESTAMP_STATIC)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/lintian-overrides
                   ${debian_files}/${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides/${PROJECT_NAME} COPYONLY)
  endif()

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # CPack puts the summary in front of this as the first line.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "\
sizestamp writes six bytes at byte offset 16 of a file: two zero bytes, then a
size given on its command line as an unsigned 32-bit little-endian integer.
Every other byte stays as it was and a missing file is created; sizes of
4 GiB and more are refused. It is started once per file, as
'sizestamp /s 305419896 /f target.bin'.")
  # The static program needs no other package; a dynamic one needs its libraries.
  if(NOT SIZESTAMP_STATIC)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  endif()
  set(CPACK_SIZESTAMP_DEBIAN_FILES ${debian_files})
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/debian-staging.cmake)
endif()

include(CPack)
