#!/usr/bin/env bash
# Fault drills of the monitor's window (bench/soak_monitor) and of taralbus:
#   reopen     the simulator killed and restarted ten times at the same --link
#              path; the first value line must follow each restart within 3.5 s
#   stalled    a TCP client that connects and never reads
#   flood      a TCP client sending without line ends
#   cycles     a hundred connect/disconnect cycles
#   unwritable the program directory read-only (monitor run as nobody)
#   junk       INI files full of junk
# Exits non-zero when a drill misses its goal.
#
#   bench/drills.sh [--only NAME]... [--json FILE] [--keep]
#
# Needs root for the unwritable drill (it runs the monitor as nobody). The
# build directory is $TARAL_BUILD_DIR (default build-soak).
exec "$(dirname "$0")/run_python.sh" drills.py "$@"
