#!/bin/bash
# The README's test command: installs what is missing, builds everything and
# runs every test through CTest (unit tests, checks of the built 32-bit file,
# the reproducible-build check, the Wine end-to-end suite, sanitizers,
# fuzzing and static analysis).
set -euo pipefail
# The signing password is for tools/sign.sh alone: it leaves this script's
# environment at once, so nothing else this script starts gets it.
password="${SIGN_PASSWORD:-}"
unset SIGN_PASSWORD
cd "$(dirname "$0")/.."
SIGN_PASSWORD="$password" tools/build.sh build
# Side by side: most entries spend their time waiting (see
# cmake/system_tests.cmake); the ones that only compute run under nice.
ctest --test-dir build --output-on-failure --parallel 4 "$@"
