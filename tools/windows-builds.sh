#!/bin/bash
# Builds Uninstall.exe (build/i686) and its 64-bit twin (build/x86_64), and
# nothing else. The folders are configured with the mingw toolchains and the
# settings the full build's sub-builds pass, so a later `cmake --build build`
# reconfigures them in place and goes on from what this built. Uninstall.exe
# is signed if the environment names a certificate (tools/sign.sh).
set -euo pipefail
# The signing password is for tools/sign.sh alone: it leaves this script's
# environment at once, so nothing else this script starts gets it.
password="${SIGN_PASSWORD:-}"
unset SIGN_PASSWORD
cd "$(dirname "$0")/.."
# Both configured at once: most of a configure is waiting on compiler checks.
pids=()
for arch in i686 x86_64; do
    cmake -S "$PWD" -B "build/$arch" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-$arch.cmake" >/dev/null &
    pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid"; done
for arch in i686 x86_64; do
    cmake --build "build/$arch" -j2
done
SIGN_PASSWORD="$password" tools/sign.sh build/i686/Uninstall.exe
ls -l build/i686/Uninstall.exe build/x86_64/Uninstall.exe
