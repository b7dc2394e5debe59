#!/usr/bin/env bash
# Sets up and builds the tool, then starts it in the current directory.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh" run
if [ -x "$here/build/src/ui/quorvel" ]; then
    exec "$here/build/src/ui/quorvel" "$@"
fi
echo "Built the libraries; the window is not part of this build yet."
