#!/usr/bin/env bash
# The Windows raw probe's tests (wine_capture_tests.exe) under Wine on a live namespace LAN: six
# hosts in 198.18.0.1 - .40, a second MAC answering for the last one (--shared-ip), and host 2
# answering 0.65 s late, as on Linux, against the probe's patience of 1.5 s (its kernel keeps
# silent; the Linux build's late_host answers for it).
# Wine runs in a prefix of its own made inside the scanner's namespace, so that its adapters are
# the LAN's.
#
#   wine-probe.sh TEST_EXE LATE_HOST LAN_SH
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: wine-probe.sh TEST_EXE LATE_HOST LAN_SH"; exit 2; }
exe=$(realpath "$1") late=$(realpath "$2") lan=$(realpath "$3")
runner=$(cd "$(dirname "$0")/../../cmake" && pwd)/wine-run.sh
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: the Windows probe's LAN tests build network namespaces and need root"
    exit 77
fi

wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
prefix=qwcap$$
work=$(mktemp -d)
latepid=""
Cleanup() {
    [ -z "$latepid" ] || kill "$latepid" 2>/dev/null || true
    if [ -d "$work/wineprefix" ]; then
        WINEPREFIX=$work/wineprefix "$wineserver" -k 2>/dev/null || true
        WINEPREFIX=$work/wineprefix "$wineserver" -w 2>/dev/null || true
    fi
    bash "$lan" down "$prefix" || true
    rm -rf "$work"
}
trap Cleanup EXIT

stations=$(bash "$lan" up "$prefix" 6 --span 40 --shared-ip)
read -r _ lns lip lmac <<<"$(grep "^host $prefix-h2 " <<<"$stations")"
ip netns exec "$lns" sysctl -q -w net.ipv4.conf.eth0.arp_ignore=8
ip netns exec "$lns" "$late" eth0 "$lip" "$lmac" 650 &
latepid=$!
{ echo "$stations"; echo "late $lip"; } >"$work/lan.txt"

InNs() { ip netns exec "$prefix-s" env WINEPREFIX="$work/wineprefix" "$@"; }
begin=$SECONDS
InNs "$runner" wineboot --init >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log"; exit 1; }
echo "Wine prefix made in $((SECONDS - begin)) s"
InNs QUORVEL_WINE_LAN="Z:$work/lan.txt" "$runner" "$exe"
