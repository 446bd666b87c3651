#!/bin/sh
# What the real application costs while it waits on a machine without
# Bluetooth: no camera, no system bus (so no BlueZ), a private X server and
# a scratch home with a returning user's settings. After a settling moment
# it reads the process's CPU time (every thread: utime + stime of
# /proc/<pid>/stat) over a window and counts the log lines the program wrote
# in that window. Prints both; fails when the CPU share reaches 1 % of one
# core or the log reaches 10 lines a minute.
#
# Usage: bench/idle_without_bluetooth.sh [lumenhollow]
#   WINDOW (default 60) seconds measured, SETTLE (default 5) seconds before,
#   MAX_CPU_PERCENT (default 1), MAX_LINES_PER_MINUTE (default 10).
set -eu

program=${1:-build/release/lumenhollow/app/lumenhollow}
window=${WINDOW:-60}
settle=${SETTLE:-5}
max_cpu=${MAX_CPU_PERCENT:-1}
max_lines=${MAX_LINES_PER_MINUTE:-10}
[ -x "$program" ] || {
    echo "no program at $program (cmake --preset release && cmake --build --preset release)" >&2
    exit 1
}
command -v Xvfb >/dev/null || { echo "Xvfb is needed" >&2; exit 1; }

scratch=$(mktemp -d)
xvfb_pid=
app_pid=
cleanup() {
    [ -z "$app_pid" ] || { kill "$app_pid" 2>/dev/null || true; wait "$app_pid" 2>/dev/null || true; }
    [ -z "$xvfb_pid" ] || { kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; }
    rm -rf "$scratch"
}
trap cleanup EXIT INT TERM

# The X server picks a free display and writes its number.
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$scratch/display" >/dev/null 2>&1 &
xvfb_pid=$!
tries=0
until [ -s "$scratch/display" ]; do
    tries=$((tries + 1))
    [ "$tries" -le 100 ] || { echo "Xvfb did not start" >&2; exit 1; }
    sleep 0.1
done
display=:$(cat "$scratch/display")

mkdir -p "$scratch/home/config/lumenhollow"
echo '{"welcomed": true}' >"$scratch/home/config/lumenhollow/settings.json"
env -i PATH=/usr/bin:/bin DISPLAY="$display" HOME="$scratch/home" \
    XDG_CONFIG_HOME="$scratch/home/config" XDG_DATA_HOME="$scratch/home/data" \
    XDG_CACHE_HOME="$scratch/home/cache" XDG_RUNTIME_DIR="$scratch" \
    DBUS_SYSTEM_BUS_ADDRESS="unix:path=$scratch/no-system-bus" PULSE_SERVER="unix:$scratch/no-sound-server" \
    "$program" >"$scratch/log" 2>&1 &
app_pid=$!

ticks() {
    # Fields after the parenthesised name: utime and stime are the 12th and 13th.
    sed 's/.*) //' "/proc/$app_pid/stat" | awk '{ print $12 + $13 }'
}
lines() { grep -c '^\[' "$scratch/log" || true; }

sleep "$settle"
[ -e "/proc/$app_pid/stat" ] || { echo "the program ended early:" >&2; cat "$scratch/log" >&2; exit 1; }
ticks_before=$(ticks)
lines_before=$(lines)
sleep "$window"
[ -e "/proc/$app_pid/stat" ] || { echo "the program ended during the window:" >&2; cat "$scratch/log" >&2; exit 1; }
ticks_after=$(ticks)
lines_after=$(lines)

# The log's rate is judged on the window; the lines since the start (the
# first failure, logged once) are printed beside it.
awk -v t0="$ticks_before" -v t1="$ticks_after" -v l0="$lines_before" -v l1="$lines_after" \
    -v hz="$(getconf CLK_TCK)" -v w="$window" -v s="$settle" -v maxc="$max_cpu" -v maxl="$max_lines" 'BEGIN {
    cpu = 100 * (t1 - t0) / hz / w
    perMinute = (l1 - l0) * 60 / w
    printf "window %d s  cpu %.2f %% of a core  log %.1f lines a minute (%d lines in %d s since the start)\n",
        w, cpu, perMinute, l1, w + s
    exit (cpu < maxc && perMinute < maxl) ? 0 : 1
}' || { echo "over the bound; the log of the window's start:" >&2; head -n 20 "$scratch/log" >&2; exit 1; }
