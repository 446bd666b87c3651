#!/bin/sh
# The screen composer against the equivalent FFmpeg filter graph (the
# camera cut square, scaled, masked round and laid over the screen, both
# sounds copied, the same encoder and settings) on the same generated 1080p
# inputs, HEVC and H.264, on every CPU and on two (taskset -c 0,1).
# Repetitions are interleaved so a change in the machine's load hits both
# alike; the medians are printed:
#   x_rt   seconds of movie per second of wall-clock time
#   cpu_s  CPU seconds of the exporting process, all threads
#   ratio  composer x_rt / graph x_rt (1.00 or more: the composer keeps up)
#
# Usage: bench/compose_vs_graph.sh [screen_composer_bench]
#   REPS (default 5) repetitions (medians need 3 or more), SECONDS_LONG (default 10) take length,
#   CPU_SETS (default "all 0,1") the CPU sets to run on; HK_GRAPH_DEFAULT_GOP=1
#   gives the graph the encoders' default key frame interval instead of the
#   composer's two seconds.
set -eu

bench=${1:-build/release/bench/screen_composer_bench}
reps=${REPS:-5}
seconds=${SECONDS_LONG:-10}
cpu_sets=${CPU_SETS:-all 0,1}
[ -x "$bench" ] || { echo "no benchmark program at $bench (cmake --preset release && cmake --build --preset release)" >&2; exit 1; }

filter='^BM_(Composer/(hevc|h264)/w:1920/h:1080/style:0|FfmpegGraph/(hevc|h264)/w:1920/h:1080)/'
out=$(mktemp)
trap 'rm -f "$out"' EXIT

# A benchmark name's prefix -> "x_realtime cpu_s" of its median.
median() {
    jq -r --arg p "$1" '.benchmarks[] | select((.aggregate_name // "median") == "median" and (.run_name | startswith($p)))
        | "\(.x_realtime) \(.cpu_s)"' "$out" | head -n 1
}

printf '%-5s %-5s %10s %8s %10s %8s %7s\n' cpus codec composer cpu_s graph cpu_s ratio
for cpus in $cpu_sets; do
    if [ "$cpus" = all ]; then set -- ; else set -- taskset -c "$cpus"; fi
    HK_COMPOSE_SECONDS=$seconds "$@" "$bench" --benchmark_filter="$filter" \
        --benchmark_repetitions="$reps" --benchmark_enable_random_interleaving=true \
        --benchmark_report_aggregates_only=true --benchmark_format=json >"$out" 2>/dev/null
    for codec in hevc h264; do
        set -- $(median "BM_Composer/$codec/") $(median "BM_FfmpegGraph/$codec/")
        [ $# -eq 4 ] || { echo "$cpus $codec: a run failed" >&2; continue; }
        awk -v c="$cpus" -v k="$codec" -v a="$1" -v b="$2" -v g="$3" -v h="$4" \
            'BEGIN { printf "%-5s %-5s %9.2fx %8.2f %9.2fx %8.2f %7.2f\n", c, k, a, b, g, h, a / g }'
    done
done
