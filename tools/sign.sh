#!/bin/bash
# Signs the built 32-bit Uninstall.exe in place with the maker's certificate:
# Authenticode, SHA-256, by Debian's osslsigncode. Windows then names the
# maker as the publisher when the uninstaller asks for administrator rights,
# and application control that admits the maker's signed programs admits the
# temporary copy the hand-off starts as well (a byte copy, signed too).
#
# Usage: tools/sign.sh path/to/Uninstall.exe
#
# The certificate comes from the environment, in one of two forms:
#   SIGN_PKCS12      a PKCS#12 file holding the key and the certificate chain
#   SIGN_CERT        a PEM file with the certificate chain, signer's first,
#   SIGN_KEY         and the signer's PEM key
#   SIGN_PASSWORD    the PKCS#12 file's or the key's password, if it has one
#   SIGN_TIMESTAMP_URL  an RFC 3161 timestamp server (default: none)
# Without SIGN_PKCS12 or SIGN_CERT the file stays unsigned; a signature left
# by an earlier signed build, on a file the linker did not remake since, is
# taken out, so what the build gives depends only on this build's settings.
#
# The signing time is SOURCE_DATE_EPOCH, else the commit time of HEAD: the
# same bytes signed with the same key give the same file. A timestamp
# server's reply carries its own time and serial number, so a timestamped
# file is not reproducible.
set -euo pipefail
# Kept in this shell only: no program this script starts gets the password
# in its environment, where any of them could pass it on or show it.
password="${SIGN_PASSWORD:-}"
unset SIGN_PASSWORD

if [ $# -ne 1 ] || [ ! -f "$1" ]; then
    echo "usage: $0 path/to/Uninstall.exe (certificate in SIGN_PKCS12, or" \
         "SIGN_CERT and SIGN_KEY; see the comment at the top)" >&2
    exit 2
fi
file="$1"
source_dir="$(cd "$(dirname "$0")/.." && pwd)"

# Whether the file carries a certificate table: the size of the optional
# header's security directory (entry 4), whose offset depends on PE32/PE32+.
is_signed() {
    local pe magic entry
    pe=$(od -An -tu4 -j60 -N4 "$file")
    magic=$(od -An -tu2 -j$((pe + 24)) -N2 "$file")
    case $magic in
        *267) entry=$((pe + 24 + 128)) ;;
        *523) entry=$((pe + 24 + 144)) ;;
        *) return 1 ;;
    esac
    [ "$(od -An -tu4 -j$((entry + 4)) -N4 "$file")" -ne 0 ]
}

# osslsigncode will not overwrite its output, so it writes into a folder of
# its own beside the file, and the result replaces the file in one rename.
replace_with() {
    tmp="$(mktemp -d "$(dirname "$file")/.sign.XXXXXX")"
    trap 'rm -rf "$tmp"' EXIT
    "$@" -out "$tmp/signed.exe" >"$tmp/log" 2>&1 || {
        cat "$tmp/log" >&2
        echo "sign.sh: osslsigncode failed on $file" >&2
        exit 1
    }
    chmod --reference="$file" "$tmp/signed.exe"
    mv "$tmp/signed.exe" "$file"
}

if [ -z "${SIGN_PKCS12:-}${SIGN_CERT:-}${SIGN_KEY:-}" ]; then
    if is_signed; then
        replace_with osslsigncode remove-signature -in "$file"
        echo "$file: signature of an earlier build taken out; left unsigned"
    else
        echo "$file: left unsigned (no SIGN_PKCS12 or SIGN_CERT given)"
    fi
    exit 0
fi

if ! command -v osslsigncode >/dev/null; then
    echo "sign.sh: osslsigncode is missing (apt-get install osslsigncode)" >&2
    exit 2
fi
if [ -n "${SIGN_PKCS12:-}" ]; then
    credentials=(-pkcs12 "$SIGN_PKCS12")
elif [ -n "${SIGN_CERT:-}" ] && [ -n "${SIGN_KEY:-}" ]; then
    credentials=(-certs "$SIGN_CERT" -key "$SIGN_KEY")
else
    echo "sign.sh: SIGN_CERT and SIGN_KEY go together" >&2
    exit 2
fi

epoch="${SOURCE_DATE_EPOCH:-$(git -C "$source_dir" log -1 --format=%ct 2>/dev/null || true)}"
if [ -z "$epoch" ]; then
    echo "sign.sh: no SOURCE_DATE_EPOCH and no git history in $source_dir" \
         "to take the signing time from" >&2
    exit 2
fi

options=(sign "${credentials[@]}" -h sha256 -time "$epoch")
if [ -n "${SIGN_TIMESTAMP_URL:-}" ]; then
    options+=(-ts "$SIGN_TIMESTAMP_URL")
fi
if [ -z "$password" ]; then
    replace_with osslsigncode "${options[@]}" -in "$file"
else
    # The password goes in on standard input (printf is a shell builtin),
    # never on a command line that ps shows.
    replace_with osslsigncode "${options[@]}" -readpass - -in "$file" \
        < <(printf '%s' "$password")
fi
echo "$file: signed (signing time $(date -u -d "@$epoch" '+%F %T') UTC)"
