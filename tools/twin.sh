# Sourced by the scripts that run the 64-bit twin: sets exe to the twin
# given as $1, or else to the first one built in the usual places; fails
# with a message naming the calling script when there is none.
exe="${1:-}"
if [ -z "$exe" ]; then
    for candidate in build/x86_64/Uninstall.exe build/w64/Uninstall.exe build/wine-w64/Uninstall.exe; do
        if [ -f "$candidate" ]; then exe="$candidate"; break; fi
    done
fi
if [ -z "$exe" ] || [ ! -f "$exe" ]; then
    echo "$(basename "$0"): no 64-bit Uninstall.exe found (give its path, or build it with tools/build.sh)" >&2
    exit 1
fi
