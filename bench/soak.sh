#!/usr/bin/env bash
# The soak: the monitor's window (bench/soak_monitor) on the simulator with
# --faults at --speed 50, the forwarding server serving a TCP client and a
# recording running, for 3 minutes (--minutes N for longer). Exits non-zero
# when the counted frames differ from those sent, the value lines or CSV rows
# miss their expectation, or the resident memory at the end is more than 10%
# above the middle.
#
#   bench/soak.sh [--minutes N] [--speed X] [--interval 0|1] [--seed N] [--json FILE] [--keep]
#
# The build directory is $TARAL_BUILD_DIR (default build-soak, a Release build
# made with scripts/build.sh); the three programs are built there if needed.
exec "$(dirname "$0")/run_python.sh" soak.py "$@"
