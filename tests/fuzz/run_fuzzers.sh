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

failed=0
summary=""
for target in $targets; do
    binary="$build_dir/tests/fuzz/$target"
    if [ ! -x "$binary" ]; then
        echo "$target: missing $binary" >&2
        failed=1
        summary+="$target: NOT BUILT"$'\n'
        continue
    fi
    corpus="$scratch/$target"
    mkdir -p "$corpus"
    cp "$fuzz_dir/corpus/$target"/* "$corpus"/
    artifacts="$build_dir/fuzz-artifacts/$target"
    mkdir -p "$artifacts"
    log="$scratch/$target.log"

    echo "=== $target: ${seconds}s"
    "$binary" "$corpus" -max_total_time="$seconds" -max_len=1024 -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" >"$log" 2>&1
    status=$?
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    if [ "$status" -ne 0 ]; then
        # The report: the sanitizer's or the broken invariant's, with the input.
        grep -v '^#[0-9]' "$log" | tail -n 60
        echo "$target: FAILED (exit $status), input saved under $artifacts/" >&2
        failed=1
        summary+="$target: FAILED after ${executions:-?} executions"$'\n'
    else
        echo "$target: ${executions:-?} executions, no crash"
        summary+="$target: ${executions:-?} executions"$'\n'
        if [ -z "$executions" ]; then
            echo "$target: no final statistics in the log" >&2
            failed=1
        fi
    fi
done

echo "=== fuzzing summary (${seconds}s per target)"
printf '%s' "$summary"
exit $failed
