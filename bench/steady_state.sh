#!/usr/bin/env bash
# Steady state: the monitor's window (bench/soak_monitor) on the simulator at
# the bus's real pace (--speed 1) with seven days of points already in each of
# the plot's graphs, plot shown, recording and a server client at interval 1;
# CPU share of one core and resident memory over one minute (and the same with
# an empty plot for comparison). Then the time from process start to the
# window shown: the real taralbus on Xvfb (until the X server maps its
# window) and the window offscreen (until its first expose event).
# Exits non-zero when a figure misses its goal (under 2% of one core, under
# 200 MB, start to window under 0.5 s).
#
#   bench/steady_state.sh [--seconds 60] [--days 7] [--runs 11] [--skip-baseline] [--json FILE]
#
# The build directory is $TARAL_BUILD_DIR (default build-soak).
exec "$(dirname "$0")/run_python.sh" steady_state.py "$@"
