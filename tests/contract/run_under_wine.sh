#!/bin/bash
# Runs the contract suite's Windows build under Wine in a throwaway prefix
# and exits with its result. A missing Wine or suite is a failure.
#
#   tests/contract/run_under_wine.sh CONTRACT_TESTS_EXE [gtest arguments]
set -euo pipefail
exe="$1"
shift
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
for needed in "$wine" "$wineserver" "$exe"; do
    if [ ! -x "$needed" ] && [ ! -f "$needed" ]; then
        echo "contract suite under Wine: $needed is missing" >&2
        exit 1
    fi
done
scratch=$(mktemp -d "${TMPDIR:-/tmp}/contract-wine-XXXXXX")
export WINEPREFIX="$scratch/prefix" WINEDEBUG=-all
# No Mono or Gecko installer dialogs, no menu entries made on the host.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
export HOME="$scratch/home"
mkdir -p "$HOME"
cleanup() {
    "$wineserver" -k >/dev/null 2>&1 || true
    rm -rf "$scratch"
}
trap cleanup EXIT
"$wine" wineboot --init >/dev/null 2>&1
"$wineserver" -w
start=$(date +%s)
status=0
"$wine" "$exe" "$@" || status=$?
echo "contract suite under Wine: exit $status after $(( $(date +%s) - start )) s (prefix made before)"
exit "$status"
