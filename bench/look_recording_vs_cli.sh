#!/bin/sh
# Recording 1080p30 through the camera model with a look, in real time,
# against the ffmpeg command line putting the same look (lut3d, trilinear,
# on BGRA) on the same frames and encoding them with the same encoder
# settings, paced like a camera (-re): HEVC on four CPUs, HEVC and H.264 on
# two. With BEFORE set to a second build of the benchmark (say, of main), the
# two programs run interleaved (before, after, before, ...) so a change in
# the machine's load hits both alike. Medians of REPS runs are printed:
#   written    frames in the movie / frames the camera delivered
#   cpu_ms     CPU of the whole process per delivered frame
#   look       CPU of the look per delivered frame (delivering thread and
#              row workers)
#   writer     CPU of the movie writer's thread per written frame
#   encoder    CPU of the encoder's threads per written frame
#   cli_ms     CPU of `ffmpeg` per frame
#   cli_late   seconds the command line ended behind the camera's pace
#   load       the machine's 1-minute load average when each run began
#
# Usage: bench/look_recording_vs_cli.sh [model_recording_bench]
#   BEFORE (unset) the other program; REPS (default 3); SECONDS_LONG
#   (default 10) the recording's length; CONFIGS (default
#   "0-3:hevc 0,1:hevc 0,1:h264") CPU set and codec of each comparison.
set -eu

after=${1:-build/release/bench/model_recording_bench}
before=${BEFORE:-}
reps=${REPS:-3}
seconds=${SECONDS_LONG:-10}
configs=${CONFIGS:-"0-3:hevc 0,1:hevc 0,1:h264"}
for program in "$after" $before; do
    [ -x "$program" ] || { echo "no benchmark program at $program (cmake --preset release && cmake --build --preset release)" >&2; exit 1; }
done
runs=$(mktemp)
out=$(mktemp)
trap 'rm -f "$runs" "$out"' EXIT

# The program's log lines go to standard output, so the figures are read
# from its JSON file. One run -> a line "config side written/delivered cpu_ms
# cli_ms cli_late load look writer encoder".
run() {
    cpus=${1%%:*}
    codec=${1#*:}
    arg=0
    [ "$codec" = h264 ] && arg=1
    HK_RECBENCH_SECONDS=$seconds taskset -c "$cpus" "$3" --benchmark_filter="^BM_LookRecordingVsCli/h264:$arg/" \
        --benchmark_out="$out" --benchmark_out_format=json >/dev/null 2>&1 || { echo "$1 $2: the run failed" >&2; return 0; }
    jq -r --arg c "$1" --arg s "$2" '.benchmarks[0] | [$c, $s, .model_written / .model_delivered,
        .model_cpu_ms_per_frame, .cli_cpu_ms_per_frame, .cli_late_s, .load1, .look_ms_per_frame,
        .writer_ms_per_written, .encoder_ms_per_written] | map(tostring) | join(" ")' "$out" >>"$runs"
}

for rep in $(seq "$reps"); do
    for config in $configs; do
        [ -n "$before" ] && run "$config" before "$before"
        run "$config" after "$after"
    done
done

# Median of column $3 among the lines of config $1 and side $2.
median() {
    awk -v c="$1" -v s="$2" -v k="$3" '$1 == c && $2 == s { print $k }' "$runs" | sort -g |
        awk '{ v[NR] = $1 } END { if (NR == 0) print "-"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

printf '%-10s %-6s %8s %7s %6s %7s %8s %8s %9s %6s %5s\n' config side written cpu_ms look writer encoder cli_ms \
    cli_late load runs
for config in $configs; do
    for side in ${before:+before} after; do
        n=$(awk -v c="$config" -v s="$side" '$1 == c && $2 == s' "$runs" | wc -l)
        printf '%-10s %-6s %8.3f %7.1f %6.1f %7.1f %8.1f %8.1f %9.1f %6.1f %5d\n' "$config" "$side" \
            "$(median "$config" "$side" 3)" "$(median "$config" "$side" 4)" "$(median "$config" "$side" 8)" \
            "$(median "$config" "$side" 9)" "$(median "$config" "$side" 10)" "$(median "$config" "$side" 5)" \
            "$(median "$config" "$side" 6)" "$(median "$config" "$side" 7)" "$n"
    done
done
echo "each run:"
cat "$runs"
