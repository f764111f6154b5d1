#!/usr/bin/env bash
# Runs Stashbay on the simulated Mac: installs what is missing, builds the Release preset and opens
# the desktop window. Arguments go to the desktop program (for example --scenario FILE, or
# --headless --script FILE to run without a display); relative paths in them are taken from the
# folder it is run in. Only the program speaks: the install and build stay quiet unless they fail
# (the first build says it has begun).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/release"

# Runs a step with its output kept aside, shown only when the step fails.
quietly() {
  local log
  log="$(mktemp)"
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    echo "run.sh: '$*' failed" >&2
    exit 1
  fi
  rm -f "$log"
}

# In the repository's root, as the presets are found there; the program itself runs where the
# person is.
(
  cd "$root"
  scripts/bootstrap.sh --quiet --stamp "$build/bootstrap-check" >&2
  if [ ! -f "$build/build.ninja" ]; then
    echo "run.sh: configuring and building the Release preset (the first build takes a few minutes)" >&2
    quietly cmake --preset release
  fi
  # Ninja itself, as `cmake --build` would run it, without cmake's own start; it configures again
  # when a CMakeLists.txt changed.
  quietly ninja -C "$build" -j "$(nproc)"
)
exec "$build/desktop/stashbay-desktop" "$@"
