#!/bin/bash
# The README's first command: builds Uninstall.exe and its 64-bit twin, and
# only them (tools/windows-builds.sh), then shows the program's main job on a
# throwaway Wine prefix holding a sample install (tools/demo.py). Wine sets up
# while the two files build. The unit tests, the model and the other builds
# come with tools/build.sh and tools/test.sh.
#
# tools/run.sh --product shows the same job done by the shipped 32-bit file
# itself, under the emulated 32-bit Wine (tools/setup-i386-wine.sh).
set -euo pipefail
# The signing password is for tools/sign.sh alone: it leaves this script's
# environment at once, so of what this script starts only tools/demo.py gets
# it, and hands it to its build alone.
password="${SIGN_PASSWORD:-}"
unset SIGN_PASSWORD
cd "$(dirname "$0")/.."
tools/install-deps.sh
if [ "${1:-}" = --product ]; then
    cat <<'TEXT'
The shipped 32-bit build/i686/Uninstall.exe, under a 32-bit Wine in an i386
chroot. This machine's kernel runs no 32-bit x86 code, so qemu emulates every
32-bit process, Wine's own included: it is several times slower than the
64-bit twin (about a minute to set Wine up, seconds for each program to start
and each dialog to show), not because of the uninstaller.
TEXT
    tools/setup-i386-wine.sh
    export WINE_TARGET=i686
    SIGN_PASSWORD="$password" exec tools/demo.py --build tools/windows-builds.sh build/i686/Uninstall.exe
fi
SIGN_PASSWORD="$password" exec tools/demo.py --build tools/windows-builds.sh build/x86_64/Uninstall.exe
