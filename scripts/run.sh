#!/usr/bin/env bash
# Sets everything up, builds and runs the monitor.
#
# With a controller's bus adapter at /dev/ttyUSB0 (or TARAL_PORT=/dev/ttyXYZ) the
# monitor opens that port. Without one it starts the built-in controller
# simulator on a pseudo-terminal and opens the monitor on it.
# Without a display it runs under Xvfb for TARAL_DEMO_SECONDS (default 20),
# with the simulator's day running 20 times faster (TARAL_SIM_SPEED) so the
# curves move, saves a screenshot of the window and prints where.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
build_dir=${TARAL_BUILD_DIR:-build}
app=$build_dir/app/taralbus
sim=$build_dir/tools/taralbus-sim

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

args=()
if [ -n "${TARAL_PORT:-}" ]; then
  args=(--port "$TARAL_PORT")
elif [ -e /dev/ttyUSB0 ]; then
  echo "Bus adapter found at /dev/ttyUSB0."
else
  echo "No bus adapter attached: starting the controller simulator."
  link=$work/taralbus-sim-tty
  speed=${TARAL_SIM_SPEED:-1}
  [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || speed=${TARAL_SIM_SPEED:-20}
  "$sim" --link "$link" --speed "$speed" >"$work/sim.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
  args=(--port "$link")
fi

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  "$app" "${args[@]}"
  exit 0
fi

seconds=${TARAL_DEMO_SECONDS:-20}
# A first run gets a window large enough for the whole panel.
ini=$(dirname "$app")/taralbus.ini
[ -e "$ini" ] || printf '[Window]\nWidth=1000\nHeight=600\n' >"$ini"
shot=${TARAL_SCREENSHOT:-$PWD/taralbus-screenshot.png}
echo "No display: running the monitor under Xvfb for $seconds s."
xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
  "$1" "${@:4}" &
  app_pid=$!
  sleep "$2"
  win=$(xwininfo -root -tree | awk "/Taral-Bus  \\(/ {print \$1; exit}")
  import -window "${win:-root}" "$3"
  kill "$app_pid"
  wait "$app_pid" 2>/dev/null || true
' run "$app" "$seconds" "$shot" "${args[@]}"
echo "Screenshot of the window: $shot"
