#!/bin/bash
# The README's first command: builds Uninstall.exe and its twin, then shows the
# program's main job on a throwaway Wine prefix holding a sample install.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/build.sh build
ls -l build/i686/Uninstall.exe build/x86_64/Uninstall.exe
exec tools/demo.py build/x86_64/Uninstall.exe
