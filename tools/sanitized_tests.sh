#!/bin/bash
# Builds the native logic, the in-memory platform and the unit tests (the
# generated machines among them) with AddressSanitizer and
# UndefinedBehaviorSanitizer into BUILD_DIR and runs them. Any finding fails.
#
#   tools/sanitized_tests.sh BUILD_DIR [gtest arguments]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir="$1"
shift
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DUNINSTALLER_SANITIZE=ON -DUNINSTALLER_WINDOWS_BUILDS=OFF >/dev/null
cmake --build "$build_dir" --target unit_tests -j2
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
"$build_dir/tests/unit_tests" --gtest_brief=1 "$@"
