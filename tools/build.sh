#!/bin/bash
# Builds the 32-bit Uninstall.exe (the product), its 64-bit twin and the
# native unit tests, all from one CMake project, into BUILD_DIR (default
# build/). The Windows files land in BUILD_DIR/i686/Uninstall.exe and
# BUILD_DIR/x86_64/Uninstall.exe. The 32-bit file is then signed if the
# environment names a certificate (tools/sign.sh), and is unsigned otherwise.
set -euo pipefail
# The signing password is for tools/sign.sh alone: it leaves this script's
# environment at once, so nothing else this script starts gets it.
password="${SIGN_PASSWORD:-}"
unset SIGN_PASSWORD
cd "$(dirname "$0")/.."
BUILD_DIR="${1:-build}"
tools/install-deps.sh
tools/setup-i386-wine.sh
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD_DIR" -j2
SIGN_PASSWORD="$password" tools/sign.sh "$BUILD_DIR/i686/Uninstall.exe"
