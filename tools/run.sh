#!/bin/bash
# The README's first command: builds Uninstall.exe and its 64-bit twin, and
# only them (tools/windows-builds.sh), then shows the program's main job on a
# throwaway Wine prefix holding a sample install (tools/demo.py). Wine sets up
# while the two files build. The unit tests, the model and the other builds
# come with tools/build.sh and tools/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
exec tools/demo.py --build tools/windows-builds.sh build/x86_64/Uninstall.exe
