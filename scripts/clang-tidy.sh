#!/usr/bin/env bash
# clang-tidy over the program's sources in src/ (the checks and their exceptions are in
# .clang-tidy), from the compile commands of a build folder; generated files are left out. The
# Windows sources (SendARP, the packet capture link, the Windows file and address code) are read
# once more through the compile commands of a mingw-w64 cross build without the window, as the
# cross compiler sees them. Prints each finding and their count; exits non-zero on any finding.
# Usage: scripts/clang-tidy.sh [build folder [cross build folder]]
#   (default: build and build-tidy-win, configured here if needed)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
build=${1:-build}
winbuild=${2:-build-tidy-win}

tidy=$(command -v run-clang-tidy || command -v run-clang-tidy-14 || true)
[ -n "$tidy" ] || { echo "clang-tidy: run-clang-tidy not found (scripts/setup.sh test)"; exit 1; }
if [ ! -f "$build/compile_commands.json" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_WERROR=ON \
        -DQUORVEL_BUILD_TESTS=OFF -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
fi
# The window's sources include its generated forms.
cmake --build "$build" -j 2 --target quorvel_window >/dev/null

log=$build/clang-tidy.log
started=$SECONDS
# The regular expression picks the database's files under src/; generated ones live in the build
# folder.
status=0
"$tidy" -p "$build" -j 2 -quiet "^$here/src/.*\.(cpp|cc)\$" >"$log" 2>&1 || status=$?

# The cross build: clang takes the target from an argument, and the C++ library's folders from
# the cross compiler itself (it cannot find those of a "-posix" compiler on its own).
cross=x86_64-w64-mingw32-g++-posix
command -v "$cross" >/dev/null || {
    echo "clang-tidy: $cross not found (scripts/setup.sh test)"
    exit 1
}
if [ ! -f "$winbuild/compile_commands.json" ]; then
    cmake -S . -B "$winbuild" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_WERROR=ON -DQUORVEL_BUILD_UI=OFF \
        -DQUORVEL_BUILD_TESTS=OFF -DQUORVEL_BUILD_BENCH=OFF >/dev/null
fi
extra=(-extra-arg=--target=x86_64-w64-mingw32)
while read -r dir; do
    case "$dir" in */include/c++*) extra+=("-extra-arg=-isystem$dir") ;; esac
done < <(echo | "$cross" -xc++ -E -v - 2>&1 | sed -n '/#include <...> search starts/,/End of/p')
"$tidy" -p "$winbuild" -j 2 -quiet "${extra[@]}" "^$here/src/.*\.(cpp|cc)\$" >>"$log" 2>&1 ||
    status=$?
# Without colours, one line per finding (a header's finding counts once, not once per includer).
findings=$(sed 's/\x1b\[[0-9;]*m//g' "$log" |
    grep -E '^[^ ]+:[0-9]+:[0-9]+: (warning|error): .*\[[^]]+\]$' | sort -u || true)
count=0
[ -z "$findings" ] || count=$(printf '%s\n' "$findings" | wc -l)
files=$(grep -c '^.*clang-tidy[^ ]* .* -p=' "$log" || true)
if [ "$count" -gt 0 ]; then
    sed 's/\x1b\[[0-9;]*m//g' "$log" | grep -vE '^(clang-tidy|[0-9]+ warnings? generated|Suppressed)'
fi
echo "clang-tidy: $count findings in $files files of src/, Linux and Windows builds" \
    "($((SECONDS - started)) s; log: $log)"
if [ "$count" -eq 0 ] && { [ "$status" -ne 0 ] || [ "$files" -eq 0 ]; }; then
    tail -n 40 "$log"
    echo "clang-tidy: the run did not complete (status $status)"
    exit 1
fi
[ "$count" -eq 0 ]
