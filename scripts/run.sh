#!/usr/bin/env bash
# Sets everything up, builds and starts the monitor.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
echo "Built: build/app/taralbus"
