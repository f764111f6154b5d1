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

# The simulated Mac, headless: the hotkey opens Stashbay's panel and the screenshot shows it.
echo "== desktop, headless: panel opened by the hotkey"
shots="$(mktemp -d)"
cp desktop/scripts/hotkey.txt "$shots/"
XDG_CONFIG_HOME="$shots/config" XDG_DATA_HOME="$shots/data" \
  build/default/desktop/stashbay-desktop --headless --script "$shots/hotkey.txt"
build/default/desktop/stashbay-screenshot-check "$shots/before-hotkey.png" "$shots/panel-by-hotkey.png"
if build/default/desktop/stashbay-screenshot-check "$shots/before-hotkey.png" "$shots/after-hotkey.png" >/dev/null 2>&1; then
  echo "the panel did not close on the second hotkey"
  exit 1
fi
# The panel used headless: opened by a click, a tile's mirrored menu, the arrow keys, Escape.
echo "== desktop, headless: the panel's tiles, a mirrored menu and the keys"
cp desktop/scripts/panel.txt "$shots/"
XDG_CONFIG_HOME="$shots/config-panel" XDG_DATA_HOME="$shots/data-panel" \
  build/default/desktop/stashbay-desktop --headless --script "$shots/panel.txt"
build/default/desktop/stashbay-screenshot-check "$shots/panel-before.png" "$shots/panel-tiles.png"
if build/default/desktop/stashbay-screenshot-check "$shots/panel-before.png" "$shots/panel-closed.png" >/dev/null 2>&1; then
  echo "Escape did not close the panel"
  exit 1
fi
# A first run walked headless: the onboarding's steps with both permissions granted in the
# simulated System Settings, then the panel's tiles.
echo "== desktop, headless: the onboarding of a first run"
cp desktop/scripts/onboarding.txt "$shots/"
XDG_CONFIG_HOME="$shots/config-onboarding" XDG_DATA_HOME="$shots/data-onboarding" \
  build/default/desktop/stashbay-desktop --headless --script "$shots/onboarding.txt"
build/default/desktop/stashbay-screenshot-check "$shots/onboarding-before.png" "$shots/onboarding-welcome.png"
build/default/desktop/stashbay-screenshot-check "$shots/onboarding-before.png" "$shots/onboarding-done.png"
rm -rf "$shots"

# The benchmark is measured with the bench preset; here it only has to run.
echo "== scan benchmark, smallest world"
build/default/bench/scan_benchmark --benchmark_filter='/10$' --benchmark_min_time=0.01

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
