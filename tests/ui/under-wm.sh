#!/usr/bin/env bash
# Runs a command on the X display of DISPLAY under a window manager (openbox), so that windows
# are framed and placed as on a desktop. Without openbox it skips (exit 77): on a bare display
# the frames and placement it exists for are not there.
#   under-wm.sh COMMAND [ARGS...]
set -uo pipefail
if ! command -v openbox >/dev/null; then
    echo "SKIP: openbox is not installed; the windows would not be framed"
    exit 77
fi
ready=$(mktemp -u)
openbox --sm-disable --startup "touch $ready" >/dev/null 2>&1 &
wm=$!
trap 'kill "$wm" 2>/dev/null; wait "$wm" 2>/dev/null; rm -f "$ready"' EXIT
for _ in $(seq 100); do
    [ -e "$ready" ] && break
    sleep 0.1
done
[ -e "$ready" ] || { echo "under-wm.sh: openbox did not start"; exit 1; }
"$@"
status=$?
exit "$status"
