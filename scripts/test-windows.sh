#!/usr/bin/env bash
# Cross-builds core, scan and table and their tests for 64-bit Windows (mingw-w64) into build-win/
# and runs the tests under Wine; exits non-zero on any failure. The window needs Qt for Windows,
# which Debian lacks: it is built on Windows itself (README).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
begin=$SECONDS
scripts/setup.sh windows
installed=$SECONDS
cmake --preset windows-cross
cmake --build --preset windows-cross
ctest --preset windows-cross
echo "Windows stage: packages $((installed - begin)) s, build and Wine tests $((SECONDS - installed)) s"
