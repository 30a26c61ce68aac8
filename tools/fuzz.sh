#!/bin/bash
# Builds the libFuzzer targets with clang++ (ASan and UBSan on) into
# BUILD_DIR and runs each for SECONDS (default 60) from its committed seed
# corpus. A crash fails.
#
#   tools/fuzz.sh BUILD_DIR [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir="$1"
seconds="${2:-60}"
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 \
    -DUNINSTALLER_FUZZ=ON -DUNINSTALLER_WINDOWS_BUILDS=OFF >/dev/null
cmake --build "$build_dir" --target fuzzers -j2
exec "$root/tests/fuzz/run_fuzzers.sh" "$build_dir" "$seconds"
