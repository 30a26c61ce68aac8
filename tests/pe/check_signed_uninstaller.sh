#!/bin/bash
# Check of tools/sign.sh on the built 32-bit Uninstall.exe: signs copies of it
# with a code-signing certificate from a throwaway authority, and checks that
# the signature holds and breaks when a byte of code changes, that it adds
# only the certificate table, and that signing is reproducible.
# Usage: check_signed_uninstaller.sh path/to/Uninstall.exe
set -euo pipefail
exe="$(realpath "$1")"
here="$(cd "$(dirname "$0")" && pwd)"
sign="$here/../../tools/sign.sh"
fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in openssl osslsigncode; do
    command -v "$tool" >/dev/null ||
        fail "$tool is missing (apt-get install osslsigncode openssl)"
done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
unset "${!SIGN_@}" SOURCE_DATE_EPOCH
export LC_ALL=C
mk() { openssl req -x509 -newkey rsa:2048 -nodes -days 30 "$@" 2>log || fail "$(cat log)"; }
mk -subj /CN=Throwaway-Root -keyout ca.key -out ca.pem
# The issuer's address, as real certificates carry it, holds a path that the
# check of the built file would take for a build path in the image.
mk -subj /O=Korrindal -CA ca.pem -CAkey ca.key -keyout key.pem -out cert.pem \
   -addext extendedKeyUsage=codeSigning \
   -addext "authorityInfoAccess=caIssuers;URI:http://pki.korrindal.example/root/ca.crt"
openssl pkcs12 -export -in cert.pem -inkey key.pem -passout pass:s3cret -out maker.p12
signing_time() { date -u -d "@$1" '+Signing time: %b %e %T %Y GMT'; }
verify() { osslsigncode verify -CAfile ca.pem -in "$1" >verify.log 2>&1; }
pem=(SIGN_CERT=cert.pem SIGN_KEY=key.pem)

# The file as the build left it: without a certificate sign.sh takes out a
# signature that a signed build gave it.
cp "$exe" unsigned.exe && "$sign" unsigned.exe >/dev/null
mkdir a b && cp unsigned.exe a/Uninstall.exe
env TZ=UTC SOURCE_DATE_EPOCH=1700000000 "${pem[@]}" "$sign" a/Uninstall.exe >/dev/null
verify a/Uninstall.exe || fail "the signature does not verify: $(cat verify.log)"
grep -q "Message digest algorithm  : SHA256" verify.log || fail "not SHA-256: $(cat verify.log)"
grep -qF "$(signing_time 1700000000)" verify.log || fail "the signing time is not SOURCE_DATE_EPOCH"
PYTHONPATH="$here/../../tools" /usr/bin/python3 "$here/check_uninstaller_exe.py" a/Uninstall.exe >log 2>&1 ||
    fail "the signed file fails the checks of the built file: $(cat log)"

# Signed elsewhere, in another time zone, from the PKCS#12 form, over the
# first signature: the same bytes, and none of the programs sign.sh starts
# has the password in its environment. Without a certificate: the unsigned
# file. Without SOURCE_DATE_EPOCH: signed at HEAD's commit time.
cp a/Uninstall.exe b/Uninstall.exe
mkdir bin && for tool in dirname od git mktemp chmod mv date osslsigncode; do
    printf '#!/bin/sh\n[ -z "${SIGN_PASSWORD+x}" ] || echo %s >>"%s/leaks"\nexec %s "$@"\n' \
        "$tool" "$work" "$(command -v "$tool")" >"bin/$tool" && chmod +x "bin/$tool"
done
PATH="$work/bin:$PATH" TZ=Pacific/Kiritimati SOURCE_DATE_EPOCH=1700000000 \
    SIGN_PKCS12=maker.p12 SIGN_PASSWORD=s3cret "$sign" b/Uninstall.exe >/dev/null
[ ! -e leaks ] || fail "SIGN_PASSWORD reached: $(sort -u leaks | tr '\n' ' ')"
cmp a/Uninstall.exe b/Uninstall.exe || fail "two signings of the same bytes differ"
"$sign" b/Uninstall.exe >/dev/null
cmp b/Uninstall.exe unsigned.exe || fail "without a certificate the signature stays"
env "${pem[@]}" "$sign" b/Uninstall.exe >/dev/null
verify b/Uninstall.exe || true  # the time is read either way
grep -qF "$(signing_time "$(git -C "$here" log -1 --format=%ct)")" verify.log ||
    fail "without SOURCE_DATE_EPOCH the signing time is not HEAD's commit time"

# The scripts that reach sign.sh hand it the password, and nothing else they
# start has it: not apt-get run as root, cmake, ninja, ctest and every test,
# nor the demo's Wine (a prefix stand-in looks).
tools="$here/../../tools" && mkdir -p tree/tools tree/build/x86_64 && touch tree/build/x86_64/Uninstall.exe
cp "$tools"/{build,windows-builds,test,run}.sh tree/tools/
for stub in bin/cmake bin/ctest bin/ls tree/tools/install-deps.sh tree/tools/setup-i386-wine.sh; do
    printf '#!/bin/sh\n[ -z "${SIGN_PASSWORD+x}" ] || echo %s >>"%s/leaks"\n' "${stub##*/}" "$work" >"$stub"
done
printf '#!/bin/sh\necho "$SIGN_PASSWORD" >>"%s/handed"\n' "$work" >tree/tools/sign.sh
cat >tree/tools/demo.py <<PYTHON
#!/usr/bin/python3
import os, sys; sys.path.insert(0, "$tools")
from winekit import wineprefix
class Prefix:
    def __init__(self): "SIGN_PASSWORD" in os.environ and open("$work/leaks", "a").write("wine\\n")
    def close(self): pass
wineprefix.session, wineprefix.WinePrefix = (lambda *a, **k: None), Prefix
sys.exit(wineprefix.run_tool("demo", lambda prefix: None, sys.argv[3], build=[sys.argv[2]]))
PYTHON
chmod +x bin/* tree/tools/*
for script in build.sh windows-builds.sh test.sh run.sh; do
    PATH="$work/bin:$PATH" SIGN_PASSWORD=s3cret "tree/tools/$script" >/dev/null 2>&1 || fail "$script failed"
done
[ ! -e leaks ] || fail "SIGN_PASSWORD reached: $(sort -u leaks | tr '\n' ' ')"
[ "$(cat handed)" = "$(printf 's3cret\n%.0s' 1 2 3 4)" ] || fail "sign.sh was not handed it by all four"

# The signed file, its checksum, certificate table entry and the table taken
# out, is the unsigned file (padded to the table's 8-byte alignment); a copy
# with one byte of code changed does not verify.
/usr/bin/python3 - <<'PYTHON' || fail "signing changed more than the certificate table"
import pefile
signed, unsigned = (open(p, "rb").read() for p in ("a/Uninstall.exe", "unsigned.exe"))
pe = pefile.PE(data=signed)
table = pe.OPTIONAL_HEADER.DATA_DIRECTORY[4]  # the certificate table
head = bytearray(signed[:table.VirtualAddress])
for at, size in ((pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum"), 4),
                 (table.get_field_absolute_offset("VirtualAddress"), 8)):
    head[at:at + size] = unsigned[at:at + size]
pad = len(head) - len(unsigned)
assert table.VirtualAddress + table.Size == len(signed) and 0 <= pad < 8
assert head == unsigned + bytes(pad)
code = pe.get_section_by_rva(pe.OPTIONAL_HEADER.AddressOfEntryPoint)
signed = bytearray(signed)
signed[code.PointerToRawData + 16] ^= 0xFF
open("flipped.exe", "wb").write(signed)
PYTHON
! verify flipped.exe || fail "a copy with a changed byte of code verifies"
grep -q MISMATCH verify.log || fail "flipped.exe failed for another reason: $(cat verify.log)"
echo "OK: the signed Uninstall.exe verifies, adds only its certificate table and is reproducible"
