# The one date every shipped file carries (the packages' file times, the
# Debian changelog, the manual's date), so that the same sources give the same
# packages whoever builds them, wherever and whenever. In order of preference:
#   - SOURCE_DATE_EPOCH from the environment, as reproducible-builds.org asks;
#   - the time of the last commit, in a git checkout of this project;
#   - packaging/source-date, for sources without git history (an archive).
# Sets SIZESTAMP_SOURCE_DATE_EPOCH (seconds since 1970, UTC) and the date in
# the forms its users need.
set(source_date_file ${PROJECT_SOURCE_DIR}/packaging/source-date)
set(SIZESTAMP_SOURCE_DATE_FROM "")

if(DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  set(SIZESTAMP_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
  set(SIZESTAMP_SOURCE_DATE_FROM "the environment's SOURCE_DATE_EPOCH")
endif()

if(NOT SIZESTAMP_SOURCE_DATE_FROM AND EXISTS ${PROJECT_SOURCE_DIR}/.git)
  find_package(Git QUIET)
  if(Git_FOUND)
    # Whoever builds runs this project's own build scripts, so trusting its
    # repository's configuration adds nothing: without safe.directory, a
    # builder who does not own the checkout would get git's refusal and,
    # through the fallback, another date.
    # git names the top folder by its real path; the sources may have been
    # reached through a symbolic link. A user's log.showSignature would add
    # the signature's check to the output of git log.
    file(REAL_PATH "${PROJECT_SOURCE_DIR}" real_source)
    set(git ${GIT_EXECUTABLE} -c safe.directory=${real_source} -c log.showSignature=false
            -C ${PROJECT_SOURCE_DIR})
    execute_process(COMMAND ${git} rev-parse --show-toplevel
                    OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE top_failed ERROR_QUIET)
    execute_process(COMMAND ${git} log -1 --format=%ct
                    OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE log_failed
                    ERROR_QUIET)
    if(NOT top_failed)
      file(REAL_PATH "${top}" top)
    endif()
    if(NOT top_failed AND NOT log_failed AND top STREQUAL real_source AND commit_time MATCHES "^[0-9]+$")
      set(SIZESTAMP_SOURCE_DATE_EPOCH "${commit_time}")
      set(SIZESTAMP_SOURCE_DATE_FROM "the last commit")
      # A new commit changes the date: configure again after one. (Only the
      # plain layout is watched; in a worktree, configure by hand.)
      execute_process(COMMAND ${git} rev-parse --symbolic-full-name HEAD
                      OUTPUT_VARIABLE head_ref OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      foreach(watched IN ITEMS HEAD ${head_ref})
        if(EXISTS ${PROJECT_SOURCE_DIR}/.git/${watched} AND NOT IS_DIRECTORY ${PROJECT_SOURCE_DIR}/.git/${watched})
          set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                       ${PROJECT_SOURCE_DIR}/.git/${watched})
        endif()
      endforeach()
    endif()
  endif()
endif()

if(NOT SIZESTAMP_SOURCE_DATE_FROM)
  file(STRINGS ${source_date_file} SIZESTAMP_SOURCE_DATE_EPOCH REGEX "^[0-9]+$" LIMIT_COUNT 1)
  set(SIZESTAMP_SOURCE_DATE_FROM "${source_date_file}")
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source_date_file})
endif()

if(NOT SIZESTAMP_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "The source date from ${SIZESTAMP_SOURCE_DATE_FROM} is \"${SIZESTAMP_SOURCE_DATE_EPOCH}\", "
                      "not a number of seconds since 1970")
endif()
message(STATUS "Source date: ${SIZESTAMP_SOURCE_DATE_EPOCH}, from ${SIZESTAMP_SOURCE_DATE_FROM}")

# string(TIMESTAMP) formats the time in SOURCE_DATE_EPOCH instead of the
# current one. Setting it here also hands it to everything configure runs.
set(ENV{SOURCE_DATE_EPOCH} ${SIZESTAMP_SOURCE_DATE_EPOCH})
# Debian's changelog wants RFC 5322 (day and month names in English, which
# %a and %b give whatever the locale); the manual wants ISO 8601.
string(TIMESTAMP SIZESTAMP_SOURCE_DATE_RFC5322 "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP SIZESTAMP_SOURCE_DATE_ISO "%Y-%m-%d" UTC)
