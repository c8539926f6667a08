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
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cd "$here/.."
build=${TARAL_BUILD_DIR:-build-soak}
[ -d "$build" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target soak_monitor taralbus taralbus-sim >/dev/null
export PYTHONDONTWRITEBYTECODE=1
exec python3 "$here/soak.py" --build "$build" "$@"
