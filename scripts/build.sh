#!/usr/bin/env bash
# Configures and builds into build/ (or $TARAL_BUILD_DIR). Extra arguments go to CMake.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${TARAL_BUILD_DIR:-build}
cmake -S . -B "$build_dir" "$@"
cmake --build "$build_dir" -j"$(nproc)"
