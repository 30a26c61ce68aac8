#!/bin/bash
# Static analysis of the program's own sources: clang-tidy (.clang-tidy) and
# cppcheck (.cppcheck-suppressions). Fails on any finding.
#
#   tools/analyze.sh BUILD_DIR
#
# BUILD_DIR is a native build directory (made if missing); it is configured
# with CMAKE_EXPORT_COMPILE_COMMANDS=ON so that clang-tidy sees each file with
# the flags it is built with. The Windows-only files (the Win32 table, the
# entry point, the freestanding helpers) are checked as the two mingw builds
# compile them, from compile databases configured under
# BUILD_DIR/analyze-<arch>.
set -u

if [ $# -ne 1 ]; then
    echo "usage: $0 BUILD_DIR" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1" || exit 2
build_dir=$(cd "$1" && pwd)

for tool in cmake clang-tidy cppcheck; do
    if ! command -v "$tool" >/dev/null; then
        echo "analyze: $tool is not installed" >&2
        exit 1
    fi
done

# The program's sources as the native build compiles them. The in-memory
# model of Windows is test code and analysed as such elsewhere.
native_sources="app/constants.cpp app/main.cpp
    removal/folder_sweep.cpp removal/install_path.cpp removal/program_files.cpp removal/shortcuts.cpp
    selfdelete/self_delete.cpp ui/dialogs.cpp ui/feedback.cpp
    platform/path_buffer.cpp platform/platform.cpp platform/startup.cpp"
# Compiled only into Uninstall.exe.
windows_sources="platform/win32_platform.cpp platform/win32_entry.cpp platform/freestanding.cpp"

log="$build_dir/analyze.log"
: >"$log"
echo "analyze: configuring compile databases (log: $log)"
if ! cmake -S "$root" -B "$build_dir" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >>"$log" 2>&1; then
    echo "analyze: configuring the native build failed, see $log" >&2
    exit 1
fi
for arch in i686 x86_64; do
    arch_dir="$build_dir/analyze-$arch"
    if ! cmake -S "$root" -B "$arch_dir" \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
        -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >>"$log" 2>&1; then
        echo "analyze: configuring the $arch mingw build failed, see $log" >&2
        exit 1
    fi
    # clang does not know this GCC-only code-generation flag; it changes
    # nothing that the analysis looks at.
    mkdir -p "$arch_dir/tidy"
    sed 's/ -fno-tree-loop-distribute-patterns//g' "$arch_dir/compile_commands.json" \
        >"$arch_dir/tidy/compile_commands.json"
done

findings=0
quiet_counts='^[0-9]+ warnings?( and [0-9]+ errors?)? generated\.$'

# run_tidy DATABASE_DIR FILE [EXTRA_ARG...]
run_tidy() {
    local database=$1 file=$2
    shift 2
    local output status
    output=$(clang-tidy --quiet --config-file="$root/.clang-tidy" -p "$database" "$@" \
        "$root/$file" 2>&1)
    status=$?
    output=$(printf '%s\n' "$output" | grep -Ev "$quiet_counts")
    if [ "$status" -ne 0 ] || [ -n "$output" ]; then
        printf '%s\n' "$output"
        findings=1
        return 1
    fi
    return 0
}

echo "=== clang-tidy"
tidy_start=$SECONDS
for file in $native_sources; do
    run_tidy "$build_dir" "$file" && echo "clean: $file"
done
for arch in i686 x86_64; do
    for file in $windows_sources; do
        run_tidy "$build_dir/analyze-$arch/tidy" "$file" \
            --extra-arg=--target=$arch-w64-mingw32 && echo "clean: $file ($arch)"
    done
done
echo "clang-tidy: $((SECONDS - tidy_start)) s"

echo "=== cppcheck"
cppcheck_start=$SECONDS
cppcheck_files=""
for file in $native_sources $windows_sources; do
    cppcheck_files="$cppcheck_files $root/$file"
done
# Every configuration (_WIN32 or not) is checked; unusedFunction sees the
# whole program because every source is given at once.
# shellcheck disable=SC2086
if ! cppcheck --quiet --error-exitcode=1 --std=c++17 --language=c++ \
    --enable=warning,style,performance,portability,unusedFunction --inconclusive \
    --library=windows --suppressions-list="$root/.cppcheck-suppressions" \
    --template='{file}:{line}:{column}: {severity}: {message} [{id}]' \
    -I "$root" $cppcheck_files; then
    findings=1
else
    echo "clean: $(echo $native_sources $windows_sources | wc -w) files"
fi
echo "cppcheck: $((SECONDS - cppcheck_start)) s"

if [ "$findings" -ne 0 ]; then
    echo "analyze: FINDINGS above" >&2
    exit 1
fi
echo "analyze: no findings"
