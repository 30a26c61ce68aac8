#!/bin/bash
# The benchmark: what Uninstall.exe weighs, how long its hand-off to the
# temporary copy takes under Wine against a baseline, and how the program-file
# sweep's cost grows with the install directory. Prints one table and rewrites
# docs/benchmarks.md and docs/benchmarks.png with it.
#
# Usage: tools/bench.sh [BUILD_DIR [RUNS]]   (default build/bench, 25 runs)
#
# Not part of the test command: the figures depend on the machine. The
# verdicts against the targets are in the table; the script fails only when a
# measurement cannot be made.
set -euo pipefail
cd "$(dirname "$0")/.."
REPO="$PWD"
BUILD_DIR="$(realpath -m "${1:-build/bench}")"
RUNS="${2:-25}"

tools/install-deps.sh
# The plot; Debian's package serves /usr/bin/python3, which runs the scripts.
if ! /usr/bin/python3 -c 'import matplotlib' 2>/dev/null; then
    echo "Installing: python3-matplotlib"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends python3-matplotlib
fi

# Both executables as released (sub-builds of the native configure), and the
# native logic and in-memory platform with debug information, which callgrind
# needs to tell the program's functions from the platform's.
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-g >/dev/null
cmake --build "$BUILD_DIR" -j2 --target uninstall_i686 uninstall_x86_64 uninstaller_logic memory_platform

RESULTS="$BUILD_DIR/bench"
mkdir -p "$RESULTS"
g++ -std=c++17 -O3 -DNDEBUG -g -Wall -Wextra -Werror -I"$REPO" \
    -o "$RESULTS/sweep_driver" bench/sweep_driver.cpp \
    "$BUILD_DIR/libmemory_platform.a" "$BUILD_DIR/libfault_injection.a" \
    "$BUILD_DIR/libuninstaller_logic.a" -lpthread
x86_64-w64-mingw32-gcc -Os -s -Wall -Wextra -Werror -mwindows -nostdlib -nostartfiles \
    -e BaselineEntry -o "$RESULTS/baseline.exe" bench/baseline.c -lkernel32 -luser32

echo "Sizes..."
/usr/bin/python3 bench/sizes.py "$BUILD_DIR/i686/Uninstall.exe" "$BUILD_DIR/x86_64/Uninstall.exe" \
    "$RESULTS/sizes.json"
echo "Sweep under callgrind (N = 100, 1,000, 10,000)..."
/usr/bin/python3 bench/sweep.py "$RESULTS/sweep_driver" "$REPO" "$RESULTS/sweep.json"
echo "Hand-off under Wine, $RUNS runs..."
PYTHONPATH=tools /usr/bin/python3 bench/handoff.py "$BUILD_DIR/x86_64/Uninstall.exe" "$RESULTS/baseline.exe" \
    "$RUNS" "$RESULTS/handoff.json"
echo
/usr/bin/python3 bench/report.py "$RESULTS/sizes.json" "$RESULTS/handoff.json" \
    "$RESULTS/sweep.json" docs/benchmarks.md docs/benchmarks.png
