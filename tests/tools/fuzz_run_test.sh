#!/usr/bin/env bash
# tools/fuzz-run against stand-in fuzz targets: every target runs once with
# its seeds, no more than FUZZ_JOBS at a time but truly side by side, and any
# failing target fails the run without stopping the others.
set -uo pipefail
runner="$(cd "$(dirname "$0")/../.." && pwd)/tools/fuzz-run"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# A stand-in target: notes its arguments and seeds, counts the targets running
# beside it, waits (bounded) until a second target has started when asked to,
# then exits with FAKE_EXIT_<name> (0 by default).
fake_target() {
    cat >"$1" <<'SCRIPT'
#!/usr/bin/env bash
name=$(basename "$0" _fuzz)
notes=$FAKE_NOTES
# running first: whoever sees this one started must also see it running.
touch "$notes/running.$name" "$notes/started.$name"
echo "$@" >"$notes/args.$name"
corpus=${!#}
ls "$corpus" >"$notes/seeds.$name"
ls "$notes" | grep -c '^running\.' >>"$notes/concurrency"
if [ -n "${FAKE_BARRIER:-}" ]; then
    for _ in $(seq 1000); do
        [ "$(ls "$notes" | grep -c '^started\.')" -ge "$FAKE_BARRIER" ] && break
        sleep 0.01
    done
    # Counted again once the barrier is passed, while this one still runs: a
    # start count alone misses the overlap when the first target ends before
    # the next one counts.
    ls "$notes" | grep -c '^running\.' >>"$notes/concurrency"
fi
rm -f "$notes/running.$name"
code=FAKE_EXIT_$name
exit "${!code:-0}"
SCRIPT
    chmod +x "$1"
}

# setup <case>: a build folder with targets alpha, beta, gamma, a file that is
# not executable, and seeds for beta only.
setup() {
    case_dir="$scratch/$1"
    mkdir -p "$case_dir/build/fuzz" "$case_dir/notes" "$case_dir/corpus/beta"
    for t in alpha beta gamma; do fake_target "$case_dir/build/fuzz/${t}_fuzz"; done
    echo "not a program" >"$case_dir/build/fuzz/notes_fuzz"
    echo seed >"$case_dir/corpus/beta/seed-1"
    export FAKE_NOTES="$case_dir/notes" FUZZ_CORPUS="$case_dir/corpus"
}

# Case: all pass, two at a time.
setup all-pass
FUZZ_JOBS=2 FAKE_BARRIER=2 "$runner" "$case_dir/build" 3 >"$case_dir/out" 2>&1
status=$?
[ "$status" -eq 0 ] || fail "all-pass: exit $status"
for t in alpha beta gamma; do
    [ -f "$FAKE_NOTES/args.$t" ] || { fail "all-pass: $t never ran"; continue; }
    grep -q -- '-max_total_time=3 ' "$FAKE_NOTES/args.$t" || fail "all-pass: $t not given its seconds"
done
[ ! -f "$FAKE_NOTES/args.notes" ] || fail "all-pass: ran a file that is not executable"
grep -qx seed-1 "$FAKE_NOTES/seeds.beta" || fail "all-pass: beta did not get its seeds"
[ ! -s "$FAKE_NOTES/seeds.alpha" ] || fail "all-pass: alpha got seeds it has none of"
max=$(sort -n "$FAKE_NOTES/concurrency" | tail -1)
[ "$max" -le 2 ] || fail "all-pass: $max targets at once with FUZZ_JOBS=2"
[ "$max" -eq 2 ] || fail "all-pass: targets never ran side by side"
grep -q '^--- beta (exit 0)' "$case_dir/out" || fail "all-pass: beta's log not printed"

# Case: the first target fails; the others still run and the run fails.
setup one-fails
FUZZ_JOBS=2 FAKE_EXIT_alpha=77 "$runner" "$case_dir/build" 1 >"$case_dir/out" 2>&1
status=$?
[ "$status" -ne 0 ] || fail "one-fails: a failing target passed the run"
for t in beta gamma; do
    [ -f "$FAKE_NOTES/args.$t" ] || fail "one-fails: $t skipped after alpha failed"
done
grep -q 'findings in alpha' "$case_dir/out" || fail "one-fails: failing target not named"

# Case: only the last target fails, one at a time.
setup last-fails
FUZZ_JOBS=1 FAKE_EXIT_gamma=1 "$runner" "$case_dir/build" 1 >"$case_dir/out" 2>&1
status=$?
[ "$status" -ne 0 ] || fail "last-fails: the last target's failure was lost"
max=$(sort -n "$FAKE_NOTES/concurrency" | tail -1)
[ "$max" -eq 1 ] || fail "last-fails: $max targets at once with FUZZ_JOBS=1"

# Case: an empty build folder is a failure, not a pass.
mkdir -p "$scratch/empty/fuzz"
"$runner" "$scratch/empty" 1 >"$scratch/empty.out" 2>&1
[ $? -ne 0 ] || fail "empty: a build without targets passed"

[ "$failures" -eq 0 ] && echo "fuzz-run: all cases pass"
exit $(( failures > 0 ))
