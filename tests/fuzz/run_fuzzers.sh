#!/bin/bash
# Runs every fuzz target for a bounded time on a copy of its seed corpus and
# fails if any of them crashes.
#
#   tests/fuzz/run_fuzzers.sh BUILD_DIR [SECONDS]
#
# BUILD_DIR is a native build configured with -DUNINSTALLER_FUZZ=ON and
# clang++ (see tests/fuzz/README.md); the targets are built here if needed.
# SECONDS is each target's run time (60 unless given). The committed corpus
# is never changed: new inputs go to a scratch copy. A crashing input is
# saved as BUILD_DIR/fuzz-artifacts/<target>/crash-* and the run fails.
set -u

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "usage: $0 BUILD_DIR [SECONDS]" >&2
    exit 2
fi
build_dir=$(cd "$1" && pwd) || exit 2
seconds=${2:-60}
case $seconds in
    '' | *[!0-9]*) echo "SECONDS must be a whole number: $seconds" >&2; exit 2 ;;
esac
fuzz_dir=$(cd "$(dirname "$0")" && pwd)
targets="fuzz_command_tail fuzz_feedback_command fuzz_read_string_value"

if ! cmake --build "$build_dir" --target fuzzers -j2; then
    echo "building the fuzz targets failed (configured with -DUNINSTALLER_FUZZ=ON?)" >&2
    exit 1
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# One target: its run and its line of the summary, in the scratch folder.
fuzz() {
    local target=$1
    local binary="$build_dir/tests/fuzz/$target"
    if [ ! -x "$binary" ]; then
        echo "$target: missing $binary" >&2
        echo "$target: NOT BUILT" >"$scratch/$target.summary"
        return 1
    fi
    local corpus="$scratch/$target"
    mkdir -p "$corpus"
    cp "$fuzz_dir/corpus/$target"/* "$corpus"/
    local artifacts="$build_dir/fuzz-artifacts/$target"
    mkdir -p "$artifacts"
    local log="$scratch/$target.log"
    "$binary" "$corpus" -max_total_time="$seconds" -max_len=1024 -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" >"$log" 2>&1
    local status=$?
    local executions
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    if [ "$status" -ne 0 ]; then
        # The report: the sanitizer's or the broken invariant's, with the input.
        grep -v '^#[0-9]' "$log" | tail -n 60
        echo "$target: FAILED (exit $status), input saved under $artifacts/" >&2
        echo "$target: FAILED after ${executions:-?} executions" >"$scratch/$target.summary"
        return 1
    fi
    echo "$target: ${executions:-?} executions, no crash"
    echo "$target: ${executions:-?} executions" >"$scratch/$target.summary"
    if [ -z "$executions" ]; then
        echo "$target: no final statistics in the log" >&2
        return 1
    fi
}

# The targets run side by side, each for its own SECONDS: a target's time is
# wall-clock time, so they take a minute together, not one after another.
echo "=== ${seconds}s each, side by side: $targets"
pids=()
for target in $targets; do
    fuzz "$target" &
    pids+=($!)
done
failed=0
for pid in "${pids[@]}"; do
    wait "$pid" || failed=1
done

echo "=== fuzzing summary (${seconds}s per target)"
for target in $targets; do
    cat "$scratch/$target.summary"
done
exit $failed
