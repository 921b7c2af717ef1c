# Install rules, and the Windows zip that CPack builds from them. The Debian
# packages are built by debian/ (dpkg-buildpackage) from the same install
# rules. The version is PROJECT_VERSION, nothing else; every date in the zip
# is the source date (cmake/source_date.cmake), so that the same sources give
# the same zip.
include(GNUInstallDirs)
include(${CMAKE_CURRENT_LIST_DIR}/source_date.cmake)


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

if(NOT WIN32)
  configure_file(${PROJECT_SOURCE_DIR}/man/sizestamp.1.in ${PROJECT_BINARY_DIR}/man/sizestamp.1 @ONLY)
  install(TARGETS sizestamp RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_BINARY_DIR}/man/sizestamp.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # The installed README for users (packaging/README), and the licence.
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/README ${PROJECT_SOURCE_DIR}/LICENSE
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  return()
endif()

# Unzipped, the programs stand beside their papers, plain text with Windows
# line ends, named so that a double click opens them in a text editor.
set(windows_texts ${PROJECT_BINARY_DIR}/packaging/windows)
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/README.txt.in ${windows_texts}/README.txt
               @ONLY NEWLINE_STYLE CRLF)
# Licence texts are copied, not configured: an @ or ${ in them stays as it is.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
if(MSVC)
  # Microsoft's runtime asks for no notice: a text that says so stands in
  # for the notices of MinGW's.
  file(READ ${PROJECT_SOURCE_DIR}/packaging/windows/THIRD-PARTY-NOTICES-msvc.txt notices)
else()
  # winpthreads comes with the posix thread model only (SIZESTAMP_THREAD_MODEL).
  set(threads_library "")
  set(threads_notice "")
  if(SIZESTAMP_THREAD_MODEL STREQUAL "posix")
    set(threads_library libpthread.a)
    file(READ ${PROJECT_SOURCE_DIR}/packaging/windows/winpthreads-notice.txt threads_notice)
    set(threads_notice "\n\n${threads_notice}")
  endif()
  sizestamp_runtime_files(runtime libstdc++.a libgcc.a libgcc_eh.a libssp.a crtbegin.o crt2u.o libmingw32.a
                          libmingwex.a libmsvcrt.a ${threads_library})
  sizestamp_packages_of(toolchain ${runtime})
  if(toolchain_BINARY)
    list(JOIN toolchain_BINARY "\n  " SIZESTAMP_TOOLCHAIN)
  else()
    set(SIZESTAMP_TOOLCHAIN "(not known: the machine that built it has no dpkg)")
  endif()
  file(READ ${PROJECT_SOURCE_DIR}/packaging/windows/THIRD-PARTY-NOTICES.txt.in notices)
  string(REPLACE "@SIZESTAMP_TOOLCHAIN@" "${SIZESTAMP_TOOLCHAIN}" notices "${notices}")
  set(threads_library_named "")
  if(threads_notice)
    set(threads_library_named "Built with the posix thread model, each also holds MinGW-w64's winpthreads\nlibrary, whose licence follows last.\n\n")
  endif()
  string(REPLACE "@SIZESTAMP_THREADS_LIBRARY@\n" "${threads_library_named}" notices "${notices}")
  string(REPLACE "@SIZESTAMP_THREADS_NOTICE@\n" "${threads_notice}" notices "${notices}")
endif()
sizestamp_write_crlf(${windows_texts}/LICENSE.txt "${license}")
sizestamp_write_crlf(${windows_texts}/THIRD-PARTY-NOTICES.txt "${notices}")

# An install with --strip strips the programs again, and strip writes the time
# (or SOURCE_DATE_EPOCH) into a Windows program's header: at 0 it keeps the
# linked program's empty time stamp.
install(CODE [[
  set(sizestamp_saved_date "$ENV{SOURCE_DATE_EPOCH}")
  set(ENV{SOURCE_DATE_EPOCH} 0)]])
install(TARGETS ${SIZESTAMP_PROGRAMS} RUNTIME DESTINATION .)
install(CODE [[set(ENV{SOURCE_DATE_EPOCH} "${sizestamp_saved_date}")]])
install(FILES ${windows_texts}/README.txt ${windows_texts}/LICENSE.txt ${windows_texts}/THIRD-PARTY-NOTICES.txt
        DESTINATION .)

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the sizestamp developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_RESOURCE_FILE_README "${PROJECT_SOURCE_DIR}/README.md")
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_GENERATOR ZIP)
set(CPACK_SYSTEM_NAME win64)
# CPack reads the date from its environment; this hands it the one above.
set(CPACK_SIZESTAMP_SOURCE_DATE_EPOCH ${SIZESTAMP_SOURCE_DATE_EPOCH})
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/cpack-project.cmake)
# CPack leaves traces of the packager in the zip (owner, times, order): it is
# written again without them.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  set(CPACK_SIZESTAMP_PYTHON ${Python3_EXECUTABLE})
  set(CPACK_SIZESTAMP_NORMALIZE ${PROJECT_SOURCE_DIR}/packaging/normalize_zip.py)
  set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/post-build.cmake)
else()
  message(WARNING "No Python 3: the zip CPack builds here will carry traces of its builder")
endif()

include(CPack)
