#!/bin/bash
# Builds the committed 32-bit Uninstall.exe twice, from two fresh checkouts in
# folders of different path lengths (with different build folder names, time
# zones and locales), and checks that the two files are the same bytes and
# that neither holds the path it was built in.
#
# Usage: check_reproducible_build.sh [REPOSITORY [REVISION]]
#   REPOSITORY  a git repository (default: the one holding this script)
#   REVISION    what to build (default: HEAD); only committed files count
# KEEP=1 keeps the temporary folder for a look afterwards.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
repo="${1:-$(git -C "$here" rev-parse --show-toplevel)}"
rev="${2:-HEAD}"

missing=()
for tool in git tar cmake ninja cmp sha256sum i686-w64-mingw32-g++ \
            i686-w64-mingw32-windres; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if [ ${#missing[@]} -ne 0 ]; then
    echo "check_reproducible_build: missing tools: ${missing[*]}" >&2
    echo "(Debian: apt-get install git cmake ninja-build g++-mingw-w64-i686" \
         "binutils-mingw-w64-i686)" >&2
    exit 2
fi

commit="$(git -C "$repo" rev-parse --verify "$rev^{commit}")"
work="$(mktemp -d "${TMPDIR:-/tmp}/repro.XXXXXX")"
if [ "${KEEP:-0}" = 1 ]; then
    trap 'echo "kept $work"' EXIT
else
    trap 'rm -rf "$work"' EXIT
fi

# Two checkouts whose paths differ in length and depth, so that any path
# that leaks into the file changes its bytes (and its section offsets).
first_src="$work/a"
second_src="$work/a-much-longer-folder-for-the-second-checkout/of/the/source"
first_build="$first_src/build"
second_build="$work/elsewhere-a-build-folder-with-another-name"

build() {
    local src="$1" build="$2" tz="$3" locale="$4" log="$2.log"
    mkdir -p "$src"
    git -C "$repo" archive --format=tar "$commit" | tar -x -C "$src"
    if ! (cd "$src" && export TZ="$tz" LC_ALL="$locale" &&
          cmake -S "$src" -B "$build" -G Ninja \
                -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" \
                -DCMAKE_BUILD_TYPE=Release -DUNINSTALLER_CCACHE=OFF &&
          cmake --build "$build" -j2) >"$log" 2>&1; then
        echo "FAIL: the build in $src did not succeed:" >&2
        cat "$log" >&2
        exit 1
    fi
    if [ ! -f "$build/Uninstall.exe" ]; then
        echo "FAIL: the build in $src made no Uninstall.exe" >&2
        exit 1
    fi
}

echo "Building $commit twice from clean checkouts..."
build "$first_src" "$first_build" UTC C
build "$second_src" "$second_build" Pacific/Kiritimati C.UTF-8

first="$first_build/Uninstall.exe"
second="$second_build/Uninstall.exe"
status=0
for f in "$first" "$second"; do
    printf '%8d bytes  sha256 %s  %s\n' "$(stat -c %s "$f")" \
        "$(sha256sum "$f" | cut -d' ' -f1)" "${f#"$work"/}"
done

# A build path in the file is a fault even when both happen to agree. Paths
# show up as 8-bit text (code) or UTF-16 (resources); look for both.
find_paths() {
    /usr/bin/python3 - "$@" <<'PYTHON'
import sys
data = open(sys.argv[1], "rb").read()
for path in sys.argv[2:]:
    for encoding in ("utf-8", "utf-16-le"):
        if path.encode(encoding) in data:
            print("%s (%s)" % (path, encoding))
PYTHON
}
for pair in "$first:$first_src:$first_build" \
            "$second:$second_src:$second_build"; do
    IFS=: read -r file src build <<<"$pair"
    found="$(find_paths "$file" "$src" "$build" "$work" | paste -sd';')"
    if [ -n "$found" ]; then
        echo "FAIL: ${file#"$work"/} holds its build path: $found" >&2
        status=1
    fi
done

if cmp -s "$first" "$second"; then
    echo "OK: the two builds are byte-identical"
else
    status=1
    echo "FAIL: the two builds differ" >&2
    echo "  differing bytes: $({ cmp -l "$first" "$second" 2>/dev/null || true; } | wc -l)" >&2
    # Name the first difference by its header or section, if pefile is there.
    /usr/bin/python3 - "$first" "$second" >&2 <<'PYTHON' || true
import sys
a, b = (open(p, "rb").read() for p in sys.argv[1:3])
first = next((i for i in range(min(len(a), len(b))) if a[i] != b[i]),
             min(len(a), len(b)))
print("  first difference at file offset 0x%X" % first)
try:
    import pefile
except ImportError:
    print("  (python3-pefile is missing: cannot name the section)")
    sys.exit(0)
pe = pefile.PE(data=a)
def where(offset):
    for s in pe.sections:
        start = s.PointerToRawData
        if start <= offset < start + s.SizeOfRawData:
            name = s.Name.rstrip(b"\0").decode()
            return "section %s, offset 0x%X into it (RVA 0x%X)" % (
                name, offset - start, s.VirtualAddress + offset - start)
    if offset < pe.OPTIONAL_HEADER.SizeOfHeaders:
        fields = []
        for st in ([pe.DOS_HEADER, pe.NT_HEADERS, pe.FILE_HEADER,
                    pe.OPTIONAL_HEADER] + pe.OPTIONAL_HEADER.DATA_DIRECTORY +
                   pe.sections):
            label = st.name
            if st in pe.sections:
                label = "section header " + st.Name.rstrip(b"\0").decode()
            for keys in st.__keys__:
                fields.append((st.get_field_absolute_offset(keys[0]),
                               label, keys[0]))
        before = [f for f in fields if f[0] <= offset]
        if before:
            at, struct_name, field = max(before)
            if offset - at < 8:
                return "headers, %s.%s" % (struct_name, field)
        return "headers"
    return "past the last section"
print("  which lies in: " + where(first))
seen = []
for i in range(min(len(a), len(b))):
    if a[i] != b[i]:
        w = where(i)
        w = w.split(",")[0] if w.startswith("section") else w
        if w not in seen:
            seen.append(w)
print("  differences lie in: " + "; ".join(seen))
if len(a) != len(b):
    print("  sizes differ: %d and %d bytes" % (len(a), len(b)))
PYTHON
fi
exit $status
