#!/usr/bin/env bash
# Runs a Windows program under Wine without a display and without Wine's own chatter.
# WINEPREFIX should name a private prefix (the tests give one under the build directory).
set -euo pipefail
: "${WINEPREFIX:?set WINEPREFIX to a private Wine prefix}"
export WINEPREFIX
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko: Wine must never try to fetch or install them.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
unset DISPLAY WAYLAND_DISPLAY
# QUORVEL_WINE_DLL_DIRS: Unix folders, separated by ":", where the programs find their DLLs
# (Qt's and the compiler's runtime); Wine sees them on drive Z:.
if [ -n "${QUORVEL_WINE_DLL_DIRS:-}" ]; then
    IFS=: read -ra dirs <<<"$QUORVEL_WINE_DLL_DIRS"
    path=""
    for d in "${dirs[@]}"; do path="$path${path:+;}Z:${d//\//\\}"; done
    export WINEPATH="$path${WINEPATH:+;$WINEPATH}"
fi
wine=${QUORVEL_WINE:-}
if [ -z "$wine" ]; then
    for w in /usr/lib/wine/wine64 "$(command -v wine64 || true)" "$(command -v wine || true)"; do
        if [ -n "$w" ] && [ -x "$w" ]; then
            wine=$w
            break
        fi
    done
fi
[ -n "$wine" ] || { echo "wine-run.sh: no wine64 found (apt-get install wine64)" >&2; exit 127; }
exec "$wine" "$@"
