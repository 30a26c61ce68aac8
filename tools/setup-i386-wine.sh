#!/bin/bash
# Makes this 64-bit-only Linux machine able to run 32-bit Windows programs,
# so that the shipped build/i686/Uninstall.exe itself can be tested:
#   - a static qemu-i386 (qemu 10, from bookworm-backports),
#   - a binfmt_misc entry that hands every i386 ELF to it,
#   - an i386 Debian chroot holding the 32-bit Wine 8.
# The kernel here runs no 32-bit x86 code at all (no i386 ELF, no 32-bit
# code segment), so neither a 32-bit Wine nor Wine's WoW64 mode can run
# natively; CPU emulation is what is left. qemu 7.2 (bookworm's own) ignores
# MAP_FIXED_NOREPLACE, which turns Wine's address-space reservation into tens
# of thousands of mmap calls and a minute per process; qemu 10 honours it.
#
# Everything is kept outside the checkout, under $QUILLMERE_I386_DIR
# (default /var/cache/quillmere-i386), and rebuilt when missing or broken.
# The host's installed packages stay as they are: qemu is taken out of its
# package with dpkg-deb, not installed. Run as root. Quick when all is there;
# the binfmt entry is lost at each reboot and set up again here.
set -euo pipefail

ROOT=${QUILLMERE_I386_DIR:-/var/cache/quillmere-i386}
QEMU_DIR=$ROOT/qemu
QEMU=$QEMU_DIR/usr/bin/qemu-i386
CHROOT=$ROOT/chroot
MARKER=$CHROOT/.quillmere-i386-ready
BINFMT=/proc/sys/fs/binfmt_misc
TOOLS=$(dirname "$(readlink -f "$0")")
RUNNER=$TOOLS/i386-wine.sh
ENTRY=qemu-i386
MIRROR=http://deb.debian.org/debian
# What the chroot holds. The X extension libraries and fonts are those the
# host's 64-bit Wine has through its recommended packages, so both Wines draw
# the dialogs alike.
WINE_PACKAGES=(wine wine32 libwine fonts-wine fonts-liberation
    libxcomposite1 libxcursor1 libxfixes3 libxi6 libxinerama1 libxrandr2
    libxrender1 libxxf86vm1)
MARKER_TEXT="wine32 bookworm: ${WINE_PACKAGES[*]}"

say() { echo "setup-i386-wine: $*" >&2; }
die() { say "$*"; exit 1; }
# Every step that fetches from the mirror goes through retry.
# shellcheck source=tools/retry.sh
. "$TOOLS/retry.sh"

[ "$(id -u)" -eq 0 ] || die "run as root (it mounts, registers binfmt_misc and builds a chroot)"

# One set-up at a time: two builds may start it together.
mkdir -p "$ROOT"
exec 9>"$ROOT/lock"
flock 9

# --- the emulator ----------------------------------------------------------

# qemu 10 or later: 10 is the release measured to honour MAP_FIXED_NOREPLACE
# (see above); an older one is fetched anew.
qemu_ok() {
    [ -x "$QEMU" ] && [[ $("$QEMU" --version 2>/dev/null) =~ version\ ([1-9][0-9])\. ]]
}

backports_listed() {
    [[ $(apt-cache policy qemu-user 2>/dev/null) == *bookworm-backports* ]]
}

fetch_qemu() {
    say "fetching qemu-user from bookworm-backports"
    if ! backports_listed; then
        # The same mirror the machine already uses; backports are never
        # chosen for upgrades on their own, so the host's packages stay.
        cat > /etc/apt/sources.list.d/bookworm-backports.sources <<EOF
Types: deb
URIs: $MIRROR
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
        retry "apt-get update" apt-get update -q >&2
    fi
    backports_listed || die "no qemu-user in bookworm-backports"
    local work
    work=$(mktemp -d)
    chmod 777 "$work"  # apt fetches as the _apt user
    (cd "$work" && retry "apt-get download qemu-user" \
        apt-get download -q qemu-user/bookworm-backports >&2)
    rm -rf "$QEMU_DIR.new"
    mkdir -p "$QEMU_DIR.new"
    dpkg-deb -x "$work"/qemu-user_*.deb "$QEMU_DIR.new"
    rm -rf "$work"
    [ -x "$QEMU_DIR.new/usr/bin/qemu-i386" ] || die "the package holds no usr/bin/qemu-i386"
    rm -rf "$QEMU_DIR"
    mv "$QEMU_DIR.new" "$QEMU_DIR"
    qemu_ok || die "$QEMU does not run or is older than qemu 10"
}

fetched=no
qemu_ok || { fetch_qemu; fetched=yes; }

# --- binfmt_misc -------------------------------------------------------------

# F: the interpreter is opened now, so it serves inside the chroot too;
# O: it gets the binary as an open file; P: argv[0] is kept as given.
MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

binfmt_ok() {
    local file=$BINFMT/$ENTRY
    [ -f "$file" ] || return 1
    grep -qx enabled "$file" &&
        grep -qx "interpreter $QEMU" "$file" &&
        grep -qx "flags: POF" "$file"
}

if [ ! -e "$BINFMT/register" ]; then
    mount -t binfmt_misc binfmt_misc "$BINFMT" || die "cannot mount binfmt_misc on $BINFMT"
fi
# A fresh qemu is registered again: the entry holds the file it opened.
if [ $fetched = yes ] || ! binfmt_ok; then
    say "registering $QEMU for i386 ELF"
    [ -f "$BINFMT/$ENTRY" ] && echo -1 > "$BINFMT/$ENTRY"
    echo ":$ENTRY:M::$MAGIC:$MASK:$QEMU:FOP" > "$BINFMT/register"
    binfmt_ok || die "the binfmt_misc entry did not take: $(cat "$BINFMT/$ENTRY" 2>&1)"
fi

# --- the chroot ----------------------------------------------------------------

unmount_under() {
    # Anything a run left mounted inside the chroot, deepest first, so that
    # removing the chroot can never reach through into /proc, /dev or /tmp.
    local target
    grep -o " $CHROOT/[^ ]*" /proc/mounts | sort -r | while read -r target; do
        umount -l "$target" || true
    done
    ! grep -q " $CHROOT/" /proc/mounts
}

chroot_ok() {
    [ -f "$MARKER" ] && [ "$(cat "$MARKER")" = "$MARKER_TEXT" ] || return 1
    # A trivial run of a 32-bit program, and of Wine's loader as the tests
    # run it (it needs /proc).
    [ "$(chroot "$CHROOT" /usr/bin/getconf LONG_BIT 2>/dev/null)" = 32 ] &&
        [[ $(QUILLMERE_I386_DIR=$ROOT "$RUNNER" /usr/lib/wine/wine --version 2>/dev/null) == wine-8.* ]]
}

# Every attempt starts from nothing: a failed one leaves a half-made chroot.
debootstrap_afresh() {
    unmount_under || die "cannot unmount what is mounted under $CHROOT"
    rm -rf --one-file-system "$CHROOT"
    debootstrap --arch=i386 --variant=minbase bookworm "$CHROOT" "$MIRROR" >&2
}

build_chroot() {
    command -v debootstrap >/dev/null || {
        say "installing debootstrap"
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q debootstrap >&2 ||
            { retry "apt-get update" apt-get update -q >&2 &&
                DEBIAN_FRONTEND=noninteractive retry "apt-get install debootstrap" \
                    apt-get install -y -q debootstrap >&2; }
    }
    local start=$SECONDS
    say "debootstrap --arch=i386 bookworm $CHROOT (a few minutes)"
    retry "debootstrap" debootstrap_afresh
    say "debootstrap took $((SECONDS - start)) s; installing Wine"
    start=$SECONDS
    cp /etc/resolv.conf "$CHROOT/etc/resolv.conf"
    mount -t proc proc "$CHROOT/proc"
    local rc=0
    {
        retry "apt-get update in the chroot" chroot "$CHROOT" apt-get update -q &&
            retry "apt-get install in the chroot" chroot "$CHROOT" \
                env DEBIAN_FRONTEND=noninteractive \
                apt-get install -y -q --no-install-recommends "${WINE_PACKAGES[@]}" &&
            chroot "$CHROOT" apt-get clean
    } >&2 || rc=$?
    umount "$CHROOT/proc"
    [ $rc -eq 0 ] || die "installing Wine in the chroot failed"
    say "Wine took $((SECONDS - start)) s"
    echo "$MARKER_TEXT" > "$MARKER"
    chroot_ok || die "the new chroot does not run Wine"
}

chroot_ok || build_chroot
