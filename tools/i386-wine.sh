#!/bin/bash
# Runs one command inside the i386 chroot that tools/setup-i386-wine.sh
# builds, set up as its 32-bit Wine needs it, e.g.
#     tools/i386-wine.sh /usr/lib/wine/wine C:\\windows\\system32\\winver.exe
#     tools/i386-wine.sh --bind /work/out /usr/lib/wine/wineserver -w
#
# The command runs in a mount namespace of its own, where /proc, /dev and the
# host's /tmp (the X server's socket in /tmp/.X11-unix, the test folders and
# Wine's server sockets in /tmp/.wine-0) are bound into the chroot at their
# own paths, plus every --bind folder. The bindings end with the namespace,
# that is when the command and every process it left behind (a wineserver
# lingers a few seconds) have ended, however they end; nothing is ever left
# mounted in the host's view of the chroot. Since /tmp is the host's, runs
# in separate namespaces still meet the same wineserver of a prefix.
#
# The current directory and the environment are kept (a current directory
# outside the bound folders becomes /). The exit code is the command's;
# 125 means the chroot or the emulator is not set up.
set -euo pipefail

ROOT=${QUILLMERE_I386_DIR:-/var/cache/quillmere-i386}
CHROOT=$ROOT/chroot
MARKER=$CHROOT/.quillmere-i386-ready
BINFMT_ENTRY=/proc/sys/fs/binfmt_misc/qemu-i386

fail() {
    echo "i386-wine: $*; run tools/setup-i386-wine.sh (as root) to set it up" >&2
    exit 125
}

if [ -z "${QUILLMERE_I386_INSIDE:-}" ]; then
    [ -f "$MARKER" ] || fail "no ready i386 chroot at $CHROOT"
    [ -f "$BINFMT_ENTRY" ] && grep -qx enabled "$BINFMT_ENTRY" ||
        fail "no binfmt_misc entry hands i386 programs to qemu"
    [ $# -gt 0 ] || { echo "usage: $0 [--bind DIR]... COMMAND [ARG]..." >&2; exit 2; }
    QUILLMERE_I386_INSIDE=1 exec unshare --mount --propagation private "$0" "$@"
fi
unset QUILLMERE_I386_INSIDE

binds=(/tmp)
while [ "${1:-}" = --bind ]; do
    binds+=("$(realpath -e "$2")")
    shift 2
done

mount --rbind /proc "$CHROOT/proc"
mount --rbind /dev "$CHROOT/dev"
for dir in "${binds[@]}"; do
    mkdir -p "$CHROOT$dir"
    mount --rbind "$dir" "$CHROOT$dir"
done

cwd=/
for dir in "${binds[@]}"; do
    case "$PWD/" in "$dir"/*) cwd=$PWD ;; esac
done
exec chroot "$CHROOT" /usr/bin/env --chdir="$cwd" "$@"
