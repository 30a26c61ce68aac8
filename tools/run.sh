#!/bin/bash
# The README's first command: builds Uninstall.exe and its 64-bit twin, and
# only them, then shows the program's main job on a throwaway Wine prefix
# holding a sample install (tools/demo.py). The unit tests, the model and the
# other builds come with tools/build.sh and tools/test.sh.
#
# The two Windows files are configured in the very folders, and with the very
# settings, that the full build's sub-builds use (build/i686, build/x86_64),
# so a later `cmake --build build` goes on from what this built.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
for arch in i686 x86_64; do
    cmake -S "$PWD" -B "build/$arch" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-$arch.cmake" >/dev/null
    cmake --build "build/$arch" -j2
done
ls -l build/i686/Uninstall.exe build/x86_64/Uninstall.exe
exec tools/demo.py build/x86_64/Uninstall.exe
