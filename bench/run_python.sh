#!/usr/bin/env bash
# Builds the monitor's window helper, the monitor and the simulator in
# $TARAL_BUILD_DIR (default build-soak, a Release build) and runs one of the
# bench/*.py scripts on them: bench/run_python.sh NAME.py [ARGS...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cd "$here/.."
build=${TARAL_BUILD_DIR:-build-soak}
[ -d "$build" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target soak_monitor taralbus taralbus-sim >/dev/null
script=$1
shift
export PYTHONDONTWRITEBYTECODE=1
exec python3 "$here/$script" --build "$build" "$@"
