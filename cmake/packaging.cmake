# Install rules and the packages CPack builds from them: a .deb on Linux and a
# .zip on Windows. The version is PROJECT_VERSION, nothing else; every date in
# them is the source date (cmake/source_date.cmake), so that the same sources
# give the same packages.
include(GNUInstallDirs)
include(${CMAKE_CURRENT_LIST_DIR}/source_date.cmake)

set(SIZESTAMP_MAINTAINER "sizestamp developers <sizestamp@users.noreply.github.com>"
    CACHE STRING "Maintainer named in the Debian package: Name <address>")

# LICENSE's copyright line, without "Copyright (c) ", and its terms.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" _ "${license}")
set(SIZESTAMP_COPYRIGHT "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^.*Copyright \\(c\\) [^\n]*\n\n" "" license_terms "${license}")
string(STRIP "${license_terms}" license_terms)

# The files of a toolchain's runtime that the compiler links into a static
# program, as paths on this machine, found by their names (libc.a, ...).
function(sizestamp_runtime_files out)
  set(paths "")
  foreach(name IN LISTS ARGN)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${name}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(IS_ABSOLUTE "${path}" AND EXISTS "${path}")
      cmake_path(NORMAL_PATH path)
      list(APPEND paths "${path}")
    endif()
  endforeach()
  set(${out} "${paths}" PARENT_SCOPE)
endfunction()

# The Debian packages that installed the given files: sets <prefix>_BINARY to
# "package version" items and <prefix>_SOURCE to "source (= version)" items,
# each without duplicates. Files no package holds (a compiler built by hand,
# a system without dpkg) are left out.
function(sizestamp_packages_of prefix)
  set(binary "")
  set(source "")
  find_program(SIZESTAMP_DPKG_QUERY dpkg-query)
  mark_as_advanced(SIZESTAMP_DPKG_QUERY)
  if(NOT SIZESTAMP_DPKG_QUERY)
    message(STATUS "No dpkg: a Debian package built here will not name the sources of its runtime")
    set(ARGN "")
  endif()
  foreach(path IN LISTS ARGN)
    execute_process(COMMAND ${SIZESTAMP_DPKG_QUERY} --search ${path}
                    OUTPUT_VARIABLE found RESULT_VARIABLE failed ERROR_QUIET)
    # "package:arch: /path"; a diversion adds a line of its own.
    if(failed OR NOT found MATCHES "(^|\n)([^ ,:\n]+(:[^ ,:\n]+)?): ")
      message(WARNING "No Debian package holds ${path}: the Debian package will not name its source")
      continue()
    endif()
    execute_process(COMMAND ${SIZESTAMP_DPKG_QUERY} --show
                            "--showformat=\${Package} \${Version}\n\${source:Package} (= \${source:Version})"
                            ${CMAKE_MATCH_2}
                    OUTPUT_VARIABLE versions COMMAND_ERROR_IS_FATAL ANY)
    string(REPLACE "\n" ";" versions "${versions}")
    list(GET versions 0 package)
    list(GET versions 1 package_source)
    list(APPEND binary "${package}")
    list(APPEND source "${package_source}")
  endforeach()
  list(REMOVE_DUPLICATES binary)
  list(REMOVE_DUPLICATES source)
  set(${prefix}_BINARY "${binary}" PARENT_SCOPE)
  set(${prefix}_SOURCE "${source}" PARENT_SCOPE)
endfunction()

# Writes text with Windows line ends; only when it changed, so that an
# unchanged text is not installed again.
function(sizestamp_write_crlf path text)
  string(REGEX REPLACE "\r?\n" "\r\n" text "${text}")
  set(written "")
  if(EXISTS "${path}")
    file(READ "${path}" written)
  endif()
  if(NOT written STREQUAL text)
    file(WRITE "${path}" "${text}")
  endif()
endfunction()

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the sizestamp developers")
set(CPACK_PACKAGE_CONTACT "${SIZESTAMP_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_RESOURCE_FILE_README "${PROJECT_SOURCE_DIR}/README.md")
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES TRUE)
# CPack reads the date from its environment; this hands it the one above.
set(CPACK_SIZESTAMP_SOURCE_DATE_EPOCH ${SIZESTAMP_SOURCE_DATE_EPOCH})
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/cpack-project.cmake)
# CPack leaves traces of the packager in what it writes (the zip's owner and
# times, the umask in the .deb's headers): each package is written again
# without them.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  set(CPACK_SIZESTAMP_PYTHON ${Python3_EXECUTABLE})
  set(CPACK_SIZESTAMP_NORMALIZE ${PROJECT_SOURCE_DIR}/packaging/normalize_package.py)
  set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/post-build.cmake)
else()
  message(WARNING "No Python 3: the packages CPack builds here will carry traces of their builder")
endif()
set(packaging ${PROJECT_BINARY_DIR}/packaging)

if(WIN32)
  # Unzipped, the program stands beside its papers, plain text with Windows
  # line ends, named so that a double click opens them in a text editor.
  set(windows_texts ${packaging}/windows)
  sizestamp_runtime_files(runtime libstdc++.a libgcc.a libgcc_eh.a crt2.o libmingw32.a libmingwex.a
                          libmsvcrt.a libpthread.a)
  sizestamp_packages_of(toolchain ${runtime})
  if(toolchain_BINARY)
    list(JOIN toolchain_BINARY "\n  " SIZESTAMP_TOOLCHAIN)
  else()
    set(SIZESTAMP_TOOLCHAIN "(not known: the machine that built it has no dpkg)")
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/README.txt.in ${windows_texts}/README.txt
                 @ONLY NEWLINE_STYLE CRLF)
  # Licence texts are copied, not configured: an @ or ${ in them stays as it is.
  file(READ ${PROJECT_SOURCE_DIR}/packaging/windows/THIRD-PARTY-NOTICES.txt.in notices)
  string(REPLACE "@SIZESTAMP_TOOLCHAIN@" "${SIZESTAMP_TOOLCHAIN}" notices "${notices}")
  sizestamp_write_crlf(${windows_texts}/LICENSE.txt "${license}")
  sizestamp_write_crlf(${windows_texts}/THIRD-PARTY-NOTICES.txt "${notices}")

  install(TARGETS sizestamp sizestampc RUNTIME DESTINATION .)
  install(FILES ${windows_texts}/README.txt ${windows_texts}/LICENSE.txt ${windows_texts}/THIRD-PARTY-NOTICES.txt
          DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
else()
  configure_file(${PROJECT_SOURCE_DIR}/man/sizestamp.1.in ${PROJECT_BINARY_DIR}/man/sizestamp.1 @ONLY)
  install(TARGETS sizestamp RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_BINARY_DIR}/man/sizestamp.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # The users' README (README.md is the developers'), and the licence.
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/README ${PROJECT_SOURCE_DIR}/LICENSE
          DESTINATION ${CMAKE_INSTALL_DOCDIR})

  # Debian's own files: the copyright in its machine-readable form, naming
  # what the static program carries of the C and C++ runtimes, the changelog,
  # and the override for the static link (reason inside).
  string(REGEX REPLACE "\n\n" "\n.\n" license_terms "${license_terms}")
  string(REPLACE "\n" "\n " license_terms "${license_terms}")
  set(SIZESTAMP_LICENSE_TEXT " ${license_terms}")
  set(built_using "")
  if(SIZESTAMP_STATIC)
    set(copyright_in ${PROJECT_SOURCE_DIR}/packaging/copyright-static.in)
    set(GLIBC_runtime crt1.o crti.o crtn.o libc.a libm.a)
    set(GCC_runtime crtbeginT.o crtend.o libgcc.a libgcc_eh.a libstdc++.a)
    foreach(part IN ITEMS GLIBC GCC)
      sizestamp_runtime_files(files ${${part}_runtime})
      if(NOT files)
        message(FATAL_ERROR "${CMAKE_CXX_COMPILER} names none of the ${part} runtime's files")
      endif()
      sizestamp_packages_of(packages ${files})
      list(APPEND built_using ${packages_SOURCE})
      list(JOIN packages_SOURCE ", " SIZESTAMP_${part}_SOURCE)
      if(NOT packages_SOURCE)
        set(SIZESTAMP_${part}_SOURCE "(not known: no Debian package holds its files)")
      endif()
      # The paths as DEP-5 patterns: relative, one per continuation line.
      list(TRANSFORM files REPLACE "^/" "")
      list(JOIN files "\n       " SIZESTAMP_${part}_FILES)
    endforeach()
  else()
    set(copyright_in ${PROJECT_SOURCE_DIR}/packaging/copyright.in)
  endif()
  # Laid out as they go under the prefix; CPack's pre-build script adds them.
  set(debian_files ${packaging}/debian)
  set(debian_doc ${debian_files}/${CMAKE_INSTALL_DOCDIR})
  configure_file(${copyright_in} ${debian_doc}/copyright @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${debian_doc}/changelog @ONLY)
  if(SIZESTAMP_STATIC)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/lintian-overrides
                   ${debian_files}/${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides/${PROJECT_NAME} COPYONLY)
  endif()

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Debian's synopsis is a lowercase noun phrase without a full stop; the
  # long description follows, paragraphs parted by an empty line.
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tool to stamp a 32-bit size into the field at offset 16 of a file")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "\
Some files carry a size in a fixed field, to be filled in once the rest
is known. sizestamp fills in that field from a script or the command
line, in place, without rewriting the file: at byte offset 16 it writes
two zero bytes and then the size as an unsigned 32-bit little-endian
integer, and leaves every other byte as it was.

It takes its switches in the Windows style, as in
'sizestamp /s 305419896 /f target.bin'. A missing file is created,
sizes of 4 GiB and more are refused, and the exit status tells each
outcome apart.")
  if(built_using)
    list(JOIN built_using ", " built_using)
    # CPack has no variable for Built-Using, and writes each field's value as
    # it is given: the field rides on the line of Source, which names this
    # package's own source.
    set(CPACK_DEBIAN_PACKAGE_SOURCE "${PROJECT_NAME}\nBuilt-Using: ${built_using}")
  endif()
  # The static program needs no other package; a dynamic one needs its libraries.
  if(NOT SIZESTAMP_STATIC)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  endif()
  set(CPACK_SIZESTAMP_DEBIAN_FILES ${debian_files})
  set(CPACK_SIZESTAMP_STRIP ${CMAKE_STRIP})
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/debian-staging.cmake)
endif()

include(CPack)
