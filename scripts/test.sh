#!/usr/bin/env bash
# Sets up, builds and runs every test; exits non-zero on any failure.
#   1. the Linux build: unit, window (offscreen and Xvfb) and real-network tests
#   2. hardening: every test under sanitizers, the worker under ThreadSanitizer, the fuzz targets
#   3. the Windows cross-build, its tests under Wine
# Qt for mingw-w64, which the Windows stage needs, is built meanwhile when it is not in its cache
# yet (the longest step on a fresh machine): the Linux tests mostly wait on namespace LANs and
# displays, and each fuzz target runs on one core, so the build takes what they leave idle. (Should
# an earlier stage fail, that build goes on to fill the cache for the next run.)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
begin=$SECONDS
scripts/setup.sh test
mkdir -p build
scripts/setup.sh windows >build/qt-mingw.log 2>&1 &
qt=$!
ctest --test-dir build --output-on-failure -j 2 --timeout 600
linux=$SECONDS
scripts/test-hardening.sh
hardened=$SECONDS
wait "$qt" || { tail -n 40 build/qt-mingw.log; echo "Qt for mingw-w64 did not build"; exit 1; }
scripts/test-windows.sh
echo "test.sh: setup and Linux tests $((linux - begin)) s, hardening $((hardened - linux)) s," \
    "Windows stage $((SECONDS - hardened)) s (Qt for mingw-w64 beside them: build/qt-mingw.log)"
