#!/bin/sh
# usage: run_under_wine.sh PREFIX [PROGRAM.exe [ARGUMENT...]]
#
# Runs a Windows test program under Wine in the tests' own prefix, without a
# display, so that a message box falls back to the standard streams. Without
# a program it only gets Wine ready. The first call creates the prefix and
# starts the wineserver the whole run shares; Wine's background processes get
# no standard streams from the caller, so no test waits for them to end.
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY

# The lock's descriptor is closed for Wine: its processes outlive this script.
(
  flock 9
  if [ ! -f "$prefix/system.reg" ]; then
    wineboot --init 9>&- && wineserver --wait 9>&-
  fi
  # Idle for a minute, the server ends by itself, should no one stop it.
  if wineserver --persistent=60 9>&-; then
    wineboot 9>&-
  fi
) 9>"$prefix.lock" </dev/null >/dev/null 2>&1

if [ $# -gt 0 ]; then
  exec wine "$@"
fi
