#!/bin/bash
# The release demonstration program recording movie after movie, pressed
# from outside as a person would (Ctrl+R through xdotool), on a desktop of
# its own: a private X server, a private PulseAudio server and a scratch
# home. After each movie is saved and the program has been idle for a
# second, its resident memory (VmRSS from /proc) is printed:
#   movie <n> rss_mb <MB>
# and at the end the first and last figures and their difference.
# With TOGGLES set, Record is instead pressed TOGGLES times GAP_MS apart
# (movies of a frame or two), and the figure is read once all are saved.
#
# Usage: bench/app_recording_memory.sh [lumenhollow-demo]
#   MOVIES (default 20), MOVIE_SECONDS (default 5), CODEC (HEVC or H.264,
#   default HEVC), TOGGLES (unset), GAP_MS (default 45), CPU_SECONDS (unset:
#   when set, the program's CPU use over that many idle seconds, the picture
#   live, is printed before the first movie and after the last).
set -eu

program=$(realpath "${1:-build/release/lumenhollow/app/lumenhollow-demo}")
movies=${MOVIES:-20}
movieSeconds=${MOVIE_SECONDS:-5}
codec=${CODEC:-HEVC}
toggles=${TOGGLES:-}
gapMs=${GAP_MS:-45}
cpuSeconds=${CPU_SECONDS:-}

scratch=$(mktemp -d /tmp/hk-app-memory-XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$scratch"
}
trap cleanup EXIT

# The X server announces its display on descriptor 3.
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$scratch/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$scratch/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$scratch/display")"

mkdir -p "$scratch/pulse/runtime/pulse" "$scratch/pulse/state" "$scratch/pulse/config"
cat >"$scratch/pulse/server.pa" <<EOF
load-module module-null-sink sink_name=silence
load-module module-sine-source source_name=tone frequency=440
set-default-source tone
load-module module-native-protocol-unix auth-anonymous=1 socket=$scratch/pulse/native
EOF
XDG_RUNTIME_DIR=$scratch/pulse/runtime PULSE_STATE_PATH=$scratch/pulse/state PULSE_CONFIG_PATH=$scratch/pulse/config \
    HOME=$scratch/pulse pulseaudio --daemonize=no --system=no --exit-idle-time=-1 --use-pid-file=no \
    --disable-shm=yes --realtime=no --high-priority=no -n -F "$scratch/pulse/server.pa" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -S "$scratch/pulse/native" ] && break; sleep 0.1; done

home=$scratch/home
mkdir -p "$home/config/lumenhollow" "$home/Videos"
printf '{"welcomed": true, "videoCodec": "%s", "recordCountdown": 0}\n' "$codec" >"$home/config/lumenhollow/settings.json"
state=$scratch/state.json
env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" \
    XDG_CACHE_HOME="$home/cache" PULSE_SERVER="unix:$scratch/pulse/native" LUMENHOLLOW_DEMO_STATE_FILE="$state" \
    stdbuf -oL -eL "$program" >"$scratch/log" 2>&1 &
app=$!
pids+=($app)

field() { python3 -c "import json,sys; print(json.load(open('$state')).get('$1'))" 2>/dev/null || true; }
waitUntil() {  # waitUntil <seconds> <command...>
    local limit=$1
    shift
    for _ in $(seq $((limit * 20))); do "$@" && return 0; sleep 0.05; done
    echo "timed out waiting for: $*" >&2
    tail -n 20 "$scratch/log" >&2
    exit 1
}
rssMb() { awk '/^VmRSS:/ { printf "%.1f", $2 / 1024 }' "/proc/$app/status"; }
cpuTicks() { awk '{ print $14 + $15 }' "/proc/$app/stat"; }
pictureLive() { [ "$(field picture)" = True ]; }
recording() { [ "$(field recording)" = True ]; }
notRecording() { [ "$(field recording)" = False ]; }
savedCount() { grep -c "Movie .* completed\|Recording failed\|No video frames" "$scratch/log" || true; }
savedMoreThan() { [ "$(savedCount)" -gt "$1" ]; }

waitUntil 60 pictureLive
window=""
for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --pid "$app" --name '^Lumenhollow$' 2>/dev/null | head -n1) && [ -n "$window" ] && break
    sleep 0.1
done
xdotool windowactivate --sync "$window" >/dev/null 2>&1 || true
xdotool windowfocus --sync "$window"
press() { xdotool key --clearmodifiers --window "$window" ctrl+r; }
sleep 2

idleCpu() {  # the program's CPU use over CPU_SECONDS, in % of one CPU
    [ -n "$cpuSeconds" ] || return 0
    local ticks
    ticks=$(cpuTicks)
    sleep "$cpuSeconds"
    echo "$1 idle cpu_pct $(awk -v a="$ticks" -v b="$(cpuTicks)" -v s="$cpuSeconds" -v hz="$(getconf CLK_TCK)" \
        'BEGIN { printf "%.1f", (b - a) * 100 / hz / s }')"
}

idleCpu before
echo "before rss_mb $(rssMb)"
first=""
last=""
if [ -z "$toggles" ]; then
    for movie in $(seq "$movies"); do
        done=$(savedCount)
        press
        waitUntil 30 recording
        sleep "$movieSeconds"
        press
        waitUntil 60 notRecording
        waitUntil 120 savedMoreThan "$done"
        sleep 1
        last=$(rssMb)
        [ -n "$first" ] || first=$last
        echo "movie $movie rss_mb $last"
    done
else
    for _ in $(seq "$toggles"); do
        press
        sleep "$(awk -v ms="$gapMs" 'BEGIN { print ms / 1000 }')"
    done
    sleep 1
    recording && press
    waitUntil 120 notRecording
    sleep 5
    last=$(rssMb)
    first=$last
    echo "after $toggles presses rss_mb $last ($(savedCount) movies ended)"
fi
echo "first $first last $last growth $(awk -v a="$first" -v b="$last" 'BEGIN { printf "%.1f", b - a }')"
idleCpu after
kill -0 "$app" || { echo "the program ended" >&2; exit 1; }
