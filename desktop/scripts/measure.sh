#!/usr/bin/env bash
# Figures of a Release build of the desktop program, headless: resident memory after start, CPU
# share while idle over 60 s with the panel closed, and the time from the hotkey's key-down entering
# the world to the panel window's first paint (as the program's --measure prints it). A report, not
# a test: the figures depend on the machine, so the load average is printed with them.
set -euo pipefail
cd "$(dirname "$0")/../.."

cmake --preset release >/dev/null
cmake --build --preset release -j "${JOBS:-2}" >/dev/null
bin="$PWD/build/release/desktop/stashbay-desktop"
steps="$PWD/desktop/scripts/measure.txt"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The app's files stay out of the person's home. Onboarding is done, as for someone using the app:
# otherwise the panel shows onboarding and nothing scans.
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME/app.stashbay.Stashbay"
echo '{"hasCompletedOnboarding": true}' >"$XDG_CONFIG_HOME/app.stashbay.Stashbay/defaults.json"

cpuTicks() { sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }
field() { awk -v key="$2:" '$1 == key { print $2 }' "/proc/$1/status"; }

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$bin" --headless --measure --script "$steps" 2>"$work/stderr" &
pid=$!

sleep 4
echo "resident memory after launch: $(field "$pid" VmRSS) kB"
# After the first opening has started the services and the panel is closed again.
sleep 6
echo "resident memory with the services running: $(field "$pid" VmRSS) kB (peak $(field "$pid" VmHWM) kB)"

# Idle: well inside the script's 70 s wait, the panel closed, scanning every 2 s.
sleep 2
ticks0=$(cpuTicks "$pid")
switches0=$(field "$pid" voluntary_ctxt_switches)
start=$(date +%s.%N)
sleep 60
ticks1=$(cpuTicks "$pid")
switches1=$(field "$pid" voluntary_ctxt_switches)
end=$(date +%s.%N)
awk -v t="$((ticks1 - ticks0))" -v hz="$(getconf CLK_TCK)" -v s0="$start" -v s1="$end" 'BEGIN {
    printf "idle CPU over %.1f s, panel closed: %.2f s of CPU = %.3f %%\n", s1 - s0, t / hz, 100 * t / hz / (s1 - s0)
}'
echo "main thread's voluntary sleeps in that time: $((switches1 - switches0))"
echo "load average after idle: $(cut -d' ' -f1-3 /proc/loadavg)"

status=0
wait "$pid" || status=$?
grep '^measure:' "$work/stderr" || true
exit "$status"
