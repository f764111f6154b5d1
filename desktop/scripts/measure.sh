#!/usr/bin/env bash
# Figures of a Release build of the desktop program, headless: resident memory, the whole
# process's CPU and wake-ups per second over 60 s with the panel closed and over 60 s with it open
# and still, where that CPU goes by thread, and the time from the hotkey's key-down entering the
# world to the panel window's first paint, medians of 5 for the first opening of a process and for
# later openings. A report, not a test: the figures depend on the machine, so the load average is
# printed with them.
#
# The program says where it is: with --measure it prints a line as each step of measure.txt begins,
# with its own figures (every thread's, the ended ones' too), and this script follows those lines.
# A span the program did not finish (it exited, or a step did not begin in time) ends the script
# with one line saying so.
#
# Usage: measure.sh [--scenario FILE] [LABEL=PROGRAM ...]. Without programs it builds the release
# preset and measures it; every run boots FILE's world when one is given (large-world.sh writes
# generated ones); with several programs (for example another checkout's build) it measures them side
# by side, at the same time, so that they share the machine's load.
set -euo pipefail
scenarioArgs=()
if [ "${1:-}" = --scenario ]; then
  [ "$#" -ge 2 ] || { echo "measure.sh: --scenario needs a file" >&2; exit 1; }
  scenarioArgs=(--scenario "$(realpath "$2")")
  shift 2
fi
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
runs=()
# Programs still running when the script ends (it failed) end too.
cleanUp() {
  for folder in "${runs[@]}"; do
    if [ ! -e "$folder/exit" ] && [ -s "$folder/pid" ]; then kill "$(cat "$folder/pid")" 2>/dev/null || true; fi
  done
  wait
  rm -rf "$work"
}
trap cleanUp EXIT

fail() {
  echo "measure.sh: $1" >&2
  exit 1
}

# The line of measure.txt whose step carries the comment "# measure.sh: TAG".
tagged() { grep -n "# measure.sh: $1\$" "$steps" | head -n1 | cut -d: -f1; }
# The line of the step after line N of a script.
stepAfter() { awk -v n="$2" 'NR > n { sub(/#.*/, ""); if ($0 ~ /[^ \t]/) { print NR; exit } }' "$1"; }
# Whole seconds of waiting in a script before line N: when that step begins, at the earliest.
waitsBefore() { awk -v n="$2" 'NR < n { sub(/#.*/, ""); if ($1 == "wait") s += $2 } END { printf "%d", s }' "$1"; }

launchedLine=$(tagged launched)
closedLine=$(tagged closed)
openLine=$(tagged open)
[ -n "$launchedLine" ] && [ -n "$closedLine" ] && [ -n "$openLine" ] ||
  fail "$steps needs steps marked '# measure.sh: launched', 'closed' and 'open'"
closedEnd=$(stepAfter "$steps" "$closedLine")
openEnd=$(stepAfter "$steps" "$openLine")
[ -n "$closedEnd" ] && [ -n "$openEnd" ] || fail "$steps: a step must follow each measured span"

# Each run keeps the app's files in its own folder. Onboarding is done, as for someone using the
# app: otherwise the panel shows onboarding and nothing scans. A run's folder gets its program's
# process id in `pid`, its error output in `stderr` and, once it has ended, its exit status in `exit`.
prepare() {
  mkdir -p "$1/config/app.stashbay.Stashbay" "$1/data"
  echo '{"hasCompletedOnboarding": true}' >"$1/config/app.stashbay.Stashbay/defaults.json"
}
run() { # folder program script
  prepare "$1"
  : >"$1/stderr"
  runs+=("$1")
  (
    XDG_DATA_HOME="$1/data" XDG_CONFIG_HOME="$1/config" "$2" --headless --measure "${scenarioArgs[@]}" --script "$3" \
      >"$1/stdout" 2>"$1/stderr" &
    echo $! >"$1/pid"
    status=0
    wait $! || status=$?
    echo "$status" >"$1/exit"
  ) &
}

# One line per thread alive now: id, name, CPU ticks. Threads that end while it reads are left out.
threadTicks() {
  cat /proc/"$1"/task/*/stat 2>/dev/null | awk '{
    match($0, /\) [^)]*$/); name = substr($0, index($0, "(") + 1, RSTART - index($0, "(") - 1)
    gsub(/ /, "_", name); split(substr($0, RSTART + 2), f, " "); print $1, name, f[12] + f[13]
  }' || true
}

# The numbers of the line the run printed as line N of its script began: the line, seconds since
# the start, CPU seconds, voluntary context switches, loop wake-ups, resident kB, peak kB.
marker() { grep -m1 "^measure: line $2 begins " "$1/stderr" | grep -o '[0-9][0-9.]*' | tr '\n' ' ' || true; }
hasMarker() { grep -q "^measure: line $2 begins " "$1/stderr"; }

labels=()
programs=()
for spec in "$@"; do
  case "$spec" in
  *=?*) ;;
  *) fail "expected LABEL=PROGRAM, got '$spec'" ;;
  esac
  labels+=("${spec%%=*}")
  programs+=("${spec#*=}")
done

# Waits until each long run has begun line LINE of measure.txt, then saves its threads' ticks as
# NAME.threads (when NAME is given). A run that ended before it, or that has not begun it in twice
# the script's waits and a minute, ends this script: its SPAN was cut short.
reach() { # line span name
  local deadline=$((launchTime + 2 * $(waitsBefore "$steps" "$1") + 60))
  local pending=("${!labels[@]}") still i d
  while [ "${#pending[@]}" -gt 0 ]; do
    still=()
    for i in "${pending[@]}"; do
      d="$work/${labels[$i]}/long"
      if hasMarker "$d" "$1"; then
        if [ -n "$3" ] && [ -s "$d/pid" ]; then threadTicks "$(cat "$d/pid")" >"$d/$3.threads"; fi
        continue
      fi
      local why=""
      if [ -e "$d/exit" ]; then
        # It may have written the line just before it ended.
        hasMarker "$d" "$1" && continue
        why="the program exited after $(($(date +%s) - launchTime)) s (status $(cat "$d/exit"))"
      elif [ "$(date +%s)" -gt "$deadline" ]; then
        why="line $1 of measure.txt had not begun after $(($(date +%s) - launchTime)) s"
      fi
      if [ -z "$why" ]; then
        still+=("$i")
      elif ! grep -q '^measure: line ' "$d/stderr"; then
        fail "${labels[$i]} (${programs[$i]}) printed no step lines: its --measure is older than this script"
      else
        fail "the $2 of ${labels[$i]} (${programs[$i]}) was cut short: $why"
      fi
    done
    pending=("${still[@]}")
    [ "${#pending[@]}" -eq 0 ] || sleep 0.1
  done
}
# Waits until the run in FOLDER has ended, at most SECONDS.
ended() { # folder seconds what
  local deadline=$(($(date +%s) + $2))
  while [ ! -e "$1/exit" ]; do
    [ "$(date +%s)" -le "$deadline" ] || fail "$3 had not ended after $2 s"
    sleep 0.1
  done
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

# The long runs, all programs at once: the panel closed over 60 s, five later openings, the panel
# open and still over 60 s.
launchTime=$(date +%s)
for i in "${!labels[@]}"; do
  mkdir -p "$work/${labels[$i]}"
  run "$work/${labels[$i]}/long" "${programs[$i]}" "$steps"
done
reach "$launchedLine" launch ""
reach "$closedLine" "closed span" closed-begin
reach "$closedEnd" "closed span" closed-end
echo "load average after the closed span: $(cut -d' ' -f1-3 /proc/loadavg)"
reach "$openLine" "open span" open-begin
reach "$openEnd" "open span" open-end
echo "load average after the open span: $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
for l in "${labels[@]}"; do
  ended "$work/$l/long" $((2 * $(waitsBefore "$steps" 1000000) + 60)) "the long run of $l"
  [ "$(cat "$work/$l/long/exit")" = 0 ] || status=$(cat "$work/$l/long/exit")
done

# First openings: five fresh processes of each program, the programs side by side.
for round in 1 2 3 4 5; do
  for i in "${!labels[@]}"; do run "$work/${labels[$i]}/first$round" "${programs[$i]}" "$firstOpen"; done
  for l in "${labels[@]}"; do
    d="$work/$l/first$round"
    ended "$d" $((2 * $(waitsBefore "$firstOpen" 1000000) + 60)) "the first opening's run $round of $l"
    [ "$(cat "$d/exit")" = 0 ] || status=$(cat "$d/exit")
  done
done

# The span from line A's beginning to line B's in the run in FOLDER.
span() { # folder line-a line-b title threads-name
  awk -v a="$(marker "$1" "$2")" -v b="$(marker "$1" "$3")" -v title="$4" 'BEGIN {
    split(a, x, " "); split(b, y, " "); s = y[2] - x[2]; cpu = y[3] - x[3]
    printf "  %s, over %.1f s: %.2f s of CPU = %.3f %% of a core; %.1f wake-ups/s; the loop woke %.1f times/s\n",
      title, s, cpu, 100 * cpu / s, (y[4] - x[4]) / s, (y[5] - x[5]) / s
  }'
  # Where it went, as this script read the threads when the span's lines appeared: those alive at
  # both ends, by name (a pool's threads together). The figures above count every thread.
  if [ -s "$1/$5-begin.threads" ] && [ -s "$1/$5-end.threads" ]; then
    local byThread
    byThread=$(awk -v hz="$hz" 'NR == FNR { before[$1] = $3; next }
      ($1 in before) { used = $3 - before[$1]; if (used > 0) { byName[$2] += used; count[$2]++ } }
      END { for (n in byName) printf "    %-20s %2d thread(s) %6.2f s\n", n, count[n], byName[n] / hz }' \
      "$1/$5-begin.threads" "$1/$5-end.threads" | sort -k4 -nr)
    if [ -n "$byThread" ]; then
      echo "    CPU of the threads alive at both ends:"
      echo "$byThread"
    else
      echo "    CPU of the threads alive at both ends: none used a whole tick"
    fi
  else
    echo "    CPU by thread: not read (the program had ended)"
  fi
}
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) print "none"; else printf "%.2f", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
firstPaints() { grep -o 'panel first painted [0-9.]*' "$1" | awk '{ print $4 }' || true; }

for l in "${labels[@]}"; do
  d="$work/$l/long"
  echo "$l:"
  read -r _ _ _ _ _ launchedResident _ <<<"$(marker "$d" "$launchedLine")"
  read -r _ _ _ _ _ resident peak <<<"$(marker "$d" "$closedEnd")"
  echo "  resident memory after launch: $launchedResident kB; with the services running: $resident kB (peak $peak kB)"
  span "$d" "$closedLine" "$closedEnd" "panel closed" closed
  span "$d" "$openLine" "$openEnd" "panel open and still" open
  awk -v c0="$(marker "$d" "$closedLine")" -v c1="$(marker "$d" "$closedEnd")" -v o0="$(marker "$d" "$openLine")" \
    -v o1="$(marker "$d" "$openEnd")" 'BEGIN {
      split(c0, a, " "); split(c1, b, " "); split(o0, c, " "); split(o1, e, " ")
      printf "  open minus closed, per 60 s: %.2f s of CPU\n", ((e[3] - c[3]) / (e[2] - c[2]) - (b[3] - a[3]) / (b[2] - a[2])) * 60
    }'
  first=$(for round in 1 2 3 4 5; do firstPaints "$work/$l/first$round/stderr" | head -n1; done | median)
  later=$(firstPaints "$d/stderr" | sed -n '2,6p' | median)
  echo "  hotkey key-down to first paint: first opening $first ms (median of 5 processes), later openings $later ms (median of 5)"
  grep '^measure: ran' "$d/stderr" | sed 's/^/  /' || true
done
exit "$status"
