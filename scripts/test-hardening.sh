#!/usr/bin/env bash
# The hardening stage: every test built with the address and undefined-behaviour sanitizers, the
# tests without the window built with ThreadSanitizer (the scan worker's among them), then each
# libFuzzer target for a bounded time, then clang-tidy over src/ (scripts/clang-tidy.sh, on the
# build/ folder of the tests). Needs the packages of "scripts/setup.sh test".
# Usage: scripts/test-hardening.sh [seconds per fuzz target]   (default 45)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
seconds=${1:-45}
started=$SECONDS

Stage() { echo; echo "=== $* ($((SECONDS - started)) s)"; }

Configure() {  # build dir, extra cmake options...
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DQUORVEL_WERROR=ON -DQUORVEL_BUILD_BENCH=OFF "$@" >/dev/null
    cmake --build "$dir" -j 2
}

Stage "address and undefined-behaviour sanitizers: every test"
Configure build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_SANITIZE=address,undefined
ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1 \
LSAN_OPTIONS=suppressions=$here/tests/sanitizer/lsan.supp:print_suppressions=0 \
UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j 2 --timeout 600

Stage "thread sanitizer: the tests without the window"
Configure build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_BUILD_UI=OFF \
    -DQUORVEL_SANITIZE=thread
# The single-threaded file tests that take long gain nothing here; nor does the failed privilege
# drop, whose forked child dies under this sanitizer's runtime (it passes under the others).
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir build-tsan --output-on-failure -j 2 --timeout 600 \
    -E '^(LargeList\.|KilledWhileSaving\.|DropPrivileges\.AFailedDropIsReported$)'

Stage "libFuzzer targets, ${seconds} s each"
CC=clang CXX=clang++ Configure build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_FUZZ=ON \
    -DQUORVEL_BUILD_UI=OFF -DQUORVEL_BUILD_TESTS=OFF
failed=()
for seeds in fuzz/corpus/*/; do
    target=$(basename "$seeds")
    [ -x "build-fuzz/fuzz/$target" ] || { echo "no fuzz target $target"; failed+=("$target"); continue; }
    # New inputs go to a scratch corpus; the committed seeds stay as they are.
    work=build-fuzz/corpus/$target
    findings=build-fuzz/findings/$target
    mkdir -p "$work" "$findings"
    log=build-fuzz/$target.log
    echo "--- $target"
    if "build-fuzz/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$findings/" "$work" "$seeds" >"$log" 2>&1; then
        grep -aE '^Done [0-9]+ runs|stat::number_of_executed_units|stat::peak_rss_mb' "$log"
        echo "$target: no finding"
    else
        tail -n 60 "$log"
        echo "$target: FINDING, inputs kept in $findings"
        failed+=("$target")
    fi
done

Stage "clang-tidy over src/"
scripts/clang-tidy.sh build || failed+=("clang-tidy")

Stage "done"
if [ ${#failed[@]} -gt 0 ]; then
    echo "findings or missing fuzz targets: ${failed[*]}"
    exit 1
fi
