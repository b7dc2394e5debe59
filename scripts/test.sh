#!/usr/bin/env bash
# Sets up, builds and runs every test; exits non-zero on any failure.
#   1. the Linux build: unit, window (offscreen and Xvfb) and real-network tests
#   2. the Windows cross-build, its tests under Wine
#   3. hardening: every test under sanitizers, the worker under ThreadSanitizer, the fuzz targets
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
scripts/setup.sh test
ctest --test-dir build --output-on-failure -j 2 --timeout 600
scripts/test-windows.sh
scripts/test-hardening.sh
