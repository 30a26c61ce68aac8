#!/bin/bash
# Installs with apt-get whatever the build, the demo and the tests need and
# this Debian 12 machine lacks. Run as root. Quick when all is there. The
# emulated 32-bit Wine that the product file's own tests need is set up by
# tools/setup-i386-wine.sh, which tools/build.sh (and so the test command)
# and tools/run.sh --product call: the first command on the twin does not
# wait for it.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/retry.sh

PACKAGES=(
    # the native build and its unit tests
    cmake ninja-build g++ libgtest-dev googletest
    # every build compiles through it: a warm machine compiles little
    ccache
    # the two Windows builds
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64
    # the contract suite's Windows build (GoogleTest needs std::mutex)
    g++-mingw-w64-x86-64-posix
    # running the 64-bit twin, showing and driving its dialogs
    wine64 xvfb xdotool x11-utils imagemagick
    # the Japanese locale (code page 932) one test runs Wine in, built by
    # localedef from its source
    locales
    # checks of the built file
    python3 python3-pefile
    # signing the 32-bit file (tools/sign.sh) and the check of its signature
    osslsigncode openssl
    # sanitizers, fuzzing and static analysis
    clang-14 libclang-rt-14-dev clang-tidy cppcheck
    # the benchmark
    valgrind
    # building the i386 chroot with the 32-bit Wine
    debootstrap
)

missing=()
for package in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -ne 0 ]; then
    echo "Installing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "install-deps: run as root to install the packages above" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    retry "apt-get update" apt-get update -q
    retry "apt-get install" apt-get install -y -q "${missing[@]}"
fi
