#!/usr/bin/env bash
# The one test command: installs what is missing, then builds and runs every test in the
# debug (g++) and sanitizer (g++, ASan + UBSan) presets, builds everything with clang and
# libFuzzer instrumentation, runs the tests there too, and runs each fuzz target for a while.
set -euo pipefail
cd "$(dirname "$0")/.."

fuzz_seconds="${STASHBAY_FUZZ_SECONDS:-10}"
jobs="$(nproc)"

scripts/bootstrap.sh

for preset in default asan fuzz; do
  echo "== preset $preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done

# The simulated Mac, headless. Each script runs in a fresh user-defaults folder; `shows A B`
# checks that screenshot B shows the panel where A did not, `hides` that it does not.
shots="$(mktemp -d)"
desktop() {
  local name="$1"
  shift
  cp "desktop/scripts/$name.txt" "$shots/"
  XDG_CONFIG_HOME="$shots/config-$name" XDG_DATA_HOME="$shots/data-$name" \
    build/default/desktop/stashbay-desktop --headless --script "$shots/$name.txt" "$@"
}
shows() { build/default/desktop/stashbay-screenshot-check "$shots/$1" "$shots/$2"; }
hides() {
  if build/default/desktop/stashbay-screenshot-check "$shots/$1" "$shots/$2" >/dev/null 2>&1; then
    echo "$3"
    exit 1
  fi
}

echo "== desktop, headless: panel opened by the hotkey"
desktop hotkey
shows before-hotkey.png panel-by-hotkey.png
hides before-hotkey.png after-hotkey.png "the panel did not close on the second hotkey"

# The panel used: opened by a click, a tile's mirrored menu, the arrow keys, Escape.
echo "== desktop, headless: the panel's tiles, a mirrored menu and the keys"
desktop panel
shows panel-before.png panel-tiles.png
hides panel-before.png panel-closed.png "Escape did not close the panel"

# The applications answer their menus: Quit chosen in the bar, then in a tile's mirrored menu.
echo "== desktop, headless: Quit chosen in an item's menu and in a mirrored menu"
desktop quit
shows quit-barometer.png quit-tides-menu.png

# A first run: the onboarding's steps with both permissions granted in the simulated System
# Settings, then the panel's tiles.
echo "== desktop, headless: the onboarding of a first run"
desktop onboarding
shows onboarding-before.png onboarding-welcome.png
shows onboarding-before.png onboarding-done.png

# The README's first run: the first-run world, where Stashbay has neither permission yet.
echo "== desktop, headless: the first run in the first-run world"
desktop first-run --scenario macos/sim/scenarios/first-run.json
shows first-run-before.png first-run-welcome.png
shows first-run-before.png first-run-done.png
rm -rf "$shots"

# The benchmark is measured with the bench preset; here it only has to run.
echo "== scan benchmark, smallest world"
build/default/bench/scan_benchmark --benchmark_filter='/10$' --benchmark_min_time=0.01
echo "== world build benchmark, smallest world"
build/default/bench/world_build_benchmark --benchmark_filter='/1000$' --benchmark_min_time=0.01

echo "== fuzzing, ${fuzz_seconds}s per target"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
shopt -s nullglob
for target in build/fuzz/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name="$(basename "$target")"
  corpus="$work/$name"
  mkdir -p "$corpus"
  if [ -d "fuzz/corpus/$name" ]; then cp -r "fuzz/corpus/$name/." "$corpus/"; fi
  echo "-- $name"
  "$target" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/$name-" "$corpus" 2>"$work/$name.log" || {
      tail -n 60 "$work/$name.log"
      echo "fuzz target $name failed"
      exit 1
    }
  grep -E 'stat::number_of_executed_units' "$work/$name.log" || true
done
echo "== all tests passed"
