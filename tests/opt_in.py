#!/usr/bin/env python3
"""Runs a check that takes long, or builds and checks a whole release, only
when asked to.

Usage: opt_in.py VARIABLE COMMAND...

Unless VARIABLE=1 is in the environment the check is skipped (status 77) on
every machine, strict or not: no one runs it by accident with plain ctest.
"""
import os
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
from harness import SKIPPED  # noqa: E402

if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    variable, command = sys.argv[1], sys.argv[2:]
    if os.environ.get(variable) != "1":
        print(f"skipped: runs only with {variable}=1")
        sys.exit(SKIPPED)
    sys.stdout.flush()
    # In its place, so that CTest's time limit stops the check itself.
    os.execvp(command[0], command)
