#!/usr/bin/env bash
# clang-tidy over the program's sources in src/ (the checks and their exceptions are in
# .clang-tidy), from the compile commands of a build folder; generated files are left out.
# Prints each finding and their count; exits non-zero on any finding.
# Usage: scripts/clang-tidy.sh [build folder]   (default: build, configured here if needed)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
build=${1:-build}

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
# Without colours, one line per finding (a header's finding counts once, not once per includer).
findings=$(sed 's/\x1b\[[0-9;]*m//g' "$log" |
    grep -E '^[^ ]+:[0-9]+:[0-9]+: (warning|error): .*\[[^]]+\]$' | sort -u || true)
count=0
[ -z "$findings" ] || count=$(printf '%s\n' "$findings" | wc -l)
files=$(grep -c '^.*clang-tidy[^ ]* .* -p=' "$log" || true)
if [ "$count" -gt 0 ]; then
    sed 's/\x1b\[[0-9;]*m//g' "$log" | grep -vE '^(clang-tidy|[0-9]+ warnings? generated|Suppressed)'
fi
echo "clang-tidy: $count findings in $files files of src/ ($((SECONDS - started)) s; log: $log)"
if [ "$count" -eq 0 ] && { [ "$status" -ne 0 ] || [ "$files" -eq 0 ]; }; then
    tail -n 40 "$log"
    echo "clang-tidy: the run did not complete (status $status)"
    exit 1
fi
[ "$count" -eq 0 ]
