# Run by CPack once it has written a package, before it copies it out: the
# package is written again without the packager's traces (see
# normalize_package.py).
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND ${CPACK_SIZESTAMP_PYTHON} ${CPACK_SIZESTAMP_NORMALIZE} ${package}
                          ${CPACK_SIZESTAMP_SOURCE_DATE_EPOCH}
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
