#!/usr/bin/env bash
# Runs Stashbay on the simulated Mac: installs what is missing, builds the Release preset and opens
# the desktop window. Arguments go to the desktop program (for example --scenario FILE, or
# --headless --script FILE to run without a display).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh >&2
cmake --preset release >&2
cmake --build --preset release -j "$(nproc)" >&2
exec build/release/desktop/stashbay-desktop "$@"
