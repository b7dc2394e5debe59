#!/usr/bin/env bash
# The whole program for 64-bit Windows (mingw-w64): provides Qt for it (built once, then reused),
# cross-builds everything with the window into build-win/, runs the tests under Wine (the window's
# offscreen), packs quorvel-<version>-win64.zip, and runs the program from that zip under Wine on
# an Xvfb display beside the Linux program (tests/e2e/window-wine.sh; screenshots and files in
# build-win/artifacts/). Exits non-zero on any failure.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
begin=$SECONDS
scripts/setup.sh windows
prepared=$SECONDS
cmake --preset windows-cross
cmake --build --preset windows-cross
ctest --preset windows-cross
tested=$SECONDS
(cd build-win && cpack -G ZIP >/dev/null)
zip=$(ls build-win/quorvel-*-win64.zip)
echo "zip: $zip ($(du -h "$zip" | cut -f1))"

# The Linux program writes the files the Windows one must match, and late_host answers late on
# the Windows probe's LAN; built here if the Linux stage has not built them.
linux=build/src/ui/quorvel
late=build/bench/late_host
if [ ! -x "$linux" ] || [ ! -x "$late" ]; then
    [ -f build/CMakeCache.txt ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQUORVEL_WERROR=ON -DQUORVEL_BUILD_TESTS=OFF
    cmake --build build --target quorvel late_host
fi
status=0
# The Windows raw probe on a live namespace LAN (root only).
bash tests/support/no-skip-in-ci.sh bash tests/netns/wine-probe.sh \
    build-win/tests/netns/wine_capture_tests.exe "$late" tests/netns/lan.sh || status=$?
[ "$status" -eq 0 ] || [ "$status" -eq 77 ] || exit "$status"
status=0
bash tests/support/no-skip-in-ci.sh bash tests/e2e/window-wine.sh "$zip" "$linux" tests/netns/lan.sh \
    build-win/artifacts build-win/tests/e2e/wpcap.dll || status=$?
[ "$status" -eq 0 ] || [ "$status" -eq 77 ] || exit "$status"
# The installer, from the same build as the zip: silently into a fresh Wine prefix, a scan by the
# installed program beside the Linux one, then the uninstaller (root only).
installing=$SECONDS
cmake --build build-win --target installer
setup=$(ls build-win/quorvel-*-win64-setup.exe)
echo "installer: $setup ($(du -h "$setup" | cut -f1))"
version=${setup##*/quorvel-}
status=0
bash tests/support/no-skip-in-ci.sh bash tests/e2e/installer-wine.sh "$setup" "$linux" tests/netns/lan.sh \
    "${version%-win64-setup.exe}" || status=$?
[ "$status" -eq 0 ] || [ "$status" -eq 77 ] || exit "$status"
echo "Windows stage: installer built and run under Wine in $((SECONDS - installing)) s"
echo "Windows stage: Qt and packages $((prepared - begin)) s, build and Wine tests" \
    "$((tested - prepared)) s, zip and window run $((SECONDS - tested)) s"
