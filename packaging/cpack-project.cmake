# Included by CPack for the zip. SOURCE_DATE_EPOCH is where CPack, and every
# tool the packaging steps start, look for the date to stamp: it gets the
# project's source date, found at configure time (cmake/source_date.cmake),
# whatever the packager's environment holds.
set(ENV{SOURCE_DATE_EPOCH} "${CPACK_SIZESTAMP_SOURCE_DATE_EPOCH}")
