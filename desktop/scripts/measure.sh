#!/usr/bin/env bash
# Figures of a Release build of the desktop program, headless: resident memory, the whole
# process's CPU (all its threads) and wake-ups per second over 60 s with the panel closed and over
# 60 s with it open and still, where that CPU goes by thread, and the time from the hotkey's
# key-down entering the world to the panel window's first paint (as the program's --measure prints
# it), medians of 5 for the first opening of a process and for later openings. A report, not a
# test: the figures depend on the machine, so the load average is printed with them.
#
# Usage: measure.sh [LABEL=PROGRAM ...]. Without arguments it builds the release preset and
# measures it; with several programs (for example another checkout's build) it measures them side
# by side, at the same time, so that they share the machine's load.
set -euo pipefail
cd "$(dirname "$0")/../.."

if [ "$#" -eq 0 ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release -j "${JOBS:-2}" >/dev/null
  set -- "this=$PWD/build/release/desktop/stashbay-desktop"
fi
steps="$PWD/desktop/scripts/measure.txt"
firstOpen="$PWD/desktop/scripts/measure-first-open.txt"
hz=$(getconf CLK_TCK)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Each run keeps the app's files in its own folder. Onboarding is done, as for someone using the
# app: otherwise the panel shows onboarding and nothing scans.
prepare() {
  mkdir -p "$1/config/app.stashbay.Stashbay" "$1/data"
  echo '{"hasCompletedOnboarding": true}' >"$1/config/app.stashbay.Stashbay/defaults.json"
}
run() { # folder program script
  prepare "$1"
  XDG_DATA_HOME="$1/data" XDG_CONFIG_HOME="$1/config" "$2" --headless --measure --script "$3" 2>"$1/stderr" &
  echo $! >"$1/pid"
}

# The whole process's CPU ticks (its exited threads included), from /proc/PID/stat.
cpuTicks() { sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }
# One line per thread: id, name, CPU ticks, voluntary context switches (its wake-ups from sleep).
threadTicks() {
  for stat in /proc/"$1"/task/*/stat; do
    [ -r "$stat" ] || continue
    local tid name
    tid=$(basename "$(dirname "$stat")")
    name=$(sed 's/^[0-9]* (\(.*\)) .*/\1/' "$stat" | tr ' ' '_')
    echo "$tid $name $(sed 's/.*) //' "$stat" | awk '{ print $12 + $13 }')" \
      "$(awk '$1 == "voluntary_ctxt_switches:" { print $2 }' "/proc/$1/task/$tid/status" 2>/dev/null || echo 0)"
  done
}
field() { awk -v key="$2:" '$1 == key { print $2 }' "/proc/$1/status"; }

# A sample at the start of a span: ticks, wake-ups, time, threads.
begin() { # folder pid name
  cpuTicks "$2" >"$1/$3.ticks0"
  date +%s.%N >"$1/$3.time0"
  threadTicks "$2" >"$1/$3.threads0"
}
finish() { # folder pid name
  cpuTicks "$2" >"$1/$3.ticks1"
  date +%s.%N >"$1/$3.time1"
  threadTicks "$2" >"$1/$3.threads1"
}
report() { # folder name title
  local d=$1 n=$2
  # Wake-ups: each thread's voluntary switches in the span (a thread that ended in it is missed).
  local wakes
  wakes=$(awk 'NR == FNR { before[$1] = $4; next } { n += $4 - before[$1] } END { print n + 0 }' \
    "$d/$n.threads0" "$d/$n.threads1")
  awk -v t0="$(cat "$d/$n.ticks0")" -v t1="$(cat "$d/$n.ticks1")" -v w="$wakes" \
    -v s0="$(cat "$d/$n.time0")" -v s1="$(cat "$d/$n.time1")" -v hz="$hz" -v title="$3" 'BEGIN {
      s = s1 - s0; cpu = (t1 - t0) / hz
      printf "  %s, over %.1f s: %.2f s of CPU = %.3f %% of a core; %.1f wake-ups/s\n", title, s, cpu, 100 * cpu / s, w / s
    }'
  # Where it went: threads that used any CPU in the span, by name (a pool's threads together).
  awk -v hz="$hz" 'NR == FNR { before[$1] = $3; next }
    { used = $3 - before[$1]; if (used > 0) { byName[$2] += used; count[$2]++ } }
    END { for (n in byName) printf "    %-20s %2d thread(s) %6.2f s\n", n, count[n], byName[n] / hz }' \
    "$d/$n.threads0" "$d/$n.threads1" | sort -k4 -nr
}
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) print "none"; else printf "%.2f", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
firstPaints() { grep -o 'panel first painted [0-9.]*' "$1" | awk '{ print $4 }'; }

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

# The long runs, all programs at once: the panel closed over 60 s, five later openings, the panel
# open and still over 60 s. The offsets follow measure.txt's waits, with a margin either side.
labels=()
for spec in "$@"; do
  label=${spec%%=*}
  labels+=("$label")
  mkdir -p "$work/$label"
  run "$work/$label/long" "${spec#*=}" "$steps"
done
pidOf() { cat "$work/$1/long/pid"; }
sleep 4
for l in "${labels[@]}"; do echo "$l: resident memory after launch: $(field "$(pidOf "$l")" VmRSS) kB"; done
sleep 10
for l in "${labels[@]}"; do begin "$work/$l/long" "$(pidOf "$l")" closed; done
sleep 60
for l in "${labels[@]}"; do
  finish "$work/$l/long" "$(pidOf "$l")" closed
  echo "$l: resident memory with the services running: $(field "$(pidOf "$l")" VmRSS) kB (peak $(field "$(pidOf "$l")" VmHWM) kB)"
done
echo "load average after the closed span: $(cut -d' ' -f1-3 /proc/loadavg)"
sleep 25
for l in "${labels[@]}"; do begin "$work/$l/long" "$(pidOf "$l")" open; done
sleep 60
for l in "${labels[@]}"; do finish "$work/$l/long" "$(pidOf "$l")" open; done
echo "load average after the open span: $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
for l in "${labels[@]}"; do wait "$(pidOf "$l")" || status=$?; done

# First openings: five fresh processes of each program, the programs side by side.
for i in 1 2 3 4 5; do
  for spec in "$@"; do
    run "$work/${spec%%=*}/first$i" "${spec#*=}" "$firstOpen"
  done
  for spec in "$@"; do wait "$(cat "$work/${spec%%=*}/first$i/pid")" || status=$?; done
done

for l in "${labels[@]}"; do
  d="$work/$l/long"
  echo "$l:"
  report "$d" closed "panel closed"
  report "$d" open "panel open and still"
  awk -v c0="$(cat "$d/closed.ticks0")" -v c1="$(cat "$d/closed.ticks1")" -v o0="$(cat "$d/open.ticks0")" \
    -v o1="$(cat "$d/open.ticks1")" -v a="$(cat "$d/closed.time0")" -v b="$(cat "$d/closed.time1")" \
    -v c="$(cat "$d/open.time0")" -v e="$(cat "$d/open.time1")" -v hz="$hz" 'BEGIN {
      printf "  open minus closed, per 60 s: %.2f s of CPU\n", ((o1 - o0) / (e - c) - (c1 - c0) / (b - a)) * 60 / hz
    }'
  first=$(for i in 1 2 3 4 5; do firstPaints "$work/$l/first$i/stderr" | head -n1; done | median)
  later=$(firstPaints "$d/stderr" | sed -n '2,6p' | median)
  echo "  hotkey key-down to first paint: first opening $first ms (median of 5 processes), later openings $later ms (median of 5)"
  grep '^measure: ran' "$d/stderr" | sed 's/^/  /' || true
done
exit "$status"
