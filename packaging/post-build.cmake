# Run by CPack once it has written the zip, before it copies it out: the zip
# is written again without the packager's traces (see normalize_zip.py).
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND ${CPACK_SIZESTAMP_PYTHON} ${CPACK_SIZESTAMP_NORMALIZE} ${package}
                          ${CPACK_SIZESTAMP_SOURCE_DATE_EPOCH}
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
