# Run by CPack once the files are staged and before the .deb is built: turns
# the staged tree into what Debian expects of a package, as debhelper would.
# Plain installs keep the uncompressed manual and carry no Debian files.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(doc "${root}/share/doc/${CPACK_PACKAGE_NAME}")
set(readable OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(listable ${readable} OWNER_EXECUTE GROUP_EXECUTE WORLD_EXECUTE)

# The copyright file, the changelog and the lintian override.
file(COPY "${CPACK_SIZESTAMP_DEBIAN_FILES}/" DESTINATION "${root}"
     FILE_PERMISSIONS ${readable} DIRECTORY_PERMISSIONS ${listable})
# The copyright file carries the licence text; Debian wants no second copy.
file(REMOVE "${doc}/LICENSE")

# CPack strips the program; the compiler's notes (.comment) go as well.
file(GLOB programs "${root}/bin/*")
foreach(program IN LISTS programs)
  execute_process(COMMAND ${CPACK_SIZESTAMP_STRIP} --remove-section=.comment --remove-section=.note "${program}"
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()

# lintian's spelling check reads a program's bytes as text, as strings(1)
# does, and machine code now and then spells a misspelt word. Such an
# override holds only for the builds whose program spells it (one compiler,
# one architecture): the others drop it and the comment above it, as lintian
# reports an override that matches nothing.
set(overrides "${root}/share/lintian/overrides/${CPACK_PACKAGE_NAME}")
if(EXISTS "${overrides}")
  file(READ "${overrides}" text)
  string(REGEX MATCHALL "spelling-error-in-binary [A-Za-z]+ " tags "${text}")
  foreach(tag IN LISTS tags)
    string(REGEX REPLACE "spelling-error-in-binary ([A-Za-z]+) " "\\1" word "${tag}")
    set(spelt "")
    foreach(program IN LISTS programs)
      file(STRINGS "${program}" found LENGTH_MINIMUM 4 REGEX "(^|[^A-Za-z])${word}([^A-Za-z]|$)")
      list(APPEND spelt ${found})
    endforeach()
    if(NOT spelt)
      string(REGEX REPLACE "\n(#[^\n]*\n)*[^#\n]*spelling-error-in-binary ${word} [^\n]*" "" text "${text}")
    endif()
  endforeach()
  string(STRIP "${text}" text)
  file(WRITE "${overrides}" "${text}\n")
endif()

# Compressed as dh_compress does: manuals and the changelog always, other
# documents above 4 kB, never the copyright file. -n leaves out the name and
# time stamp, so the same sources give the same package.
find_program(GZIP gzip REQUIRED)
file(GLOB manuals "${root}/share/man/man*/*")
file(GLOB documents "${doc}/*")
set(compressed ${manuals})
foreach(path IN LISTS documents)
  file(SIZE "${path}" size)
  if(path MATCHES "/changelog$" OR (size GREATER 4096 AND NOT path MATCHES "/copyright$"))
    list(APPEND compressed "${path}")
  endif()
endforeach()
foreach(path IN LISTS compressed)
  execute_process(COMMAND ${GZIP} -9nf "${path}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()

# The install creates directories under the packager's umask; a package's are 0755.
file(GLOB_RECURSE directories LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(directory IN LISTS directories)
  if(IS_DIRECTORY "${directory}")
    file(CHMOD "${directory}" DIRECTORY_PERMISSIONS ${listable})
  endif()
endforeach()
