#!/usr/bin/env bash
# The scan mode (quorvel --scan) as a script runs it, in a namespace LAN with no display:
# SIGINT during a /22 ends it within the probe's patience and a margin, every host it printed in
# the files; an unreadable list writes nothing and exits 1; a bad range exits 2 with a message.
# (window.sh compares its files with the window's.)
#
#   scan.sh QUORVEL LAN_SH
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: scan.sh QUORVEL LAN_SH"; exit 2; }
quorvel=$(realpath "$1") lan=$(realpath "$2")

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: the scan mode's end-to-end run builds network namespaces and needs root"
    exit 77
fi
command -v setpriv >/dev/null || { echo "SKIP: setpriv is not installed"; exit 77; }

prefix=qscan$$
ns=$prefix-s
work=$(mktemp -d)
app=""
Cleanup() {
    [ -z "$app" ] || kill "$app" 2>/dev/null || true
    bash "$lan" down "$prefix" || true
    rm -rf "$work"
}
trap Cleanup EXIT
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
Scan() { ip netns exec "$ns" env -u DISPLAY -u WAYLAND_DISPLAY "$@"; }

# Eight hosts spread over 198.18.0.0/22.
bash "$lan" up "$prefix" 8 --bits 22 --span 1024
ip netns exec "$ns" sh -c 'echo 100 >/proc/sys/net/ipv4/neigh/lan0/retrans_time_ms &&
    echo 1 >/proc/sys/net/ipv4/neigh/lan0/mcast_solicit'
chmod 755 "$work"
mkdir -m 777 "$work/stop" "$work/unreadable" "$work/bad"

# Stopped with SIGINT once the first host is out. Run unprivileged, it probes through the
# kernel's neighbour table, which takes new addresses at a bounded rate: the /22 would take
# minutes, so what it found is what came before the stop. Started as a job of its own (set -m):
# a shell starts other background commands with SIGINT ignored, and the program keeps that.
set -m
ip netns exec "$ns" env -u DISPLAY -u WAYLAND_DISPLAY setpriv --reuid=65534 --regid=65534 \
    --clear-groups "$quorvel" --scan 198.18.0.0/22 --folder "$work/stop" \
    >"$work/stop.out" 2>"$work/stop.err" &
app=$!
set +m
WaitFor 30 "the first host on stdout" test -s "$work/stop.out"
started=$(date +%s%N)
kill -INT "$app"
status=0
wait "$app" || status=$?
app=""
took=$((($(date +%s%N) - started) / 1000000))
echo "stopped by SIGINT in $took ms"
[ "$status" = 0 ] || { cat "$work/stop.err"; Fail "the stopped scan exited with status $status"; }
# The stop comes after the address in progress, which is waited for at most the probe's patience
# (1.5 s); then the files are saved and the program ends, in tens of ms (1,449 to 1,492 ms in all
# on a 2-core machine at load 8): the margin leaves a loaded machine 1 s for those.
patience=1500 margin=1000
[ "$took" -lt $((patience + margin)) ] ||
    Fail "the scan took $took ms to stop (patience $patience ms + margin $margin ms)"
found=$(wc -l <"$work/stop.out")
[ "$found" -ge 1 ] && [ "$found" -lt 8 ] || Fail "$found hosts printed: the stop came at the end"
while IFS=$'\t' read -r ip mac; do
    grep -qxF "$ip|$mac"$'\r' "$work/stop/ArpList.ini" || Fail "ArpList.ini lacks $ip $mac"
    grep -qxF "arp -s $ip ${mac//:/-}"$'\r' "$work/stop/BindArp.bat" || Fail "BindArp.bat lacks $ip"
done <"$work/stop.out"
[ "$(grep -c '|' "$work/stop/ArpList.ini")" = "$found" ] || Fail "ArpList.ini holds other rows"

# A list that cannot be read (a folder stands at its name): the scan runs, nothing is written.
mkdir "$work/unreadable/ArpList.ini"
status=0
Scan "$quorvel" --scan --folder "$work/unreadable" 198.18.0.9-198.18.0.11 \
    >"$work/unreadable.out" 2>"$work/unreadable.err" || status=$?
[ "$status" = 1 ] || Fail "an unreadable list gave status $status"
[ "$(cat "$work/unreadable.out")" = "$(printf '198.18.0.10\t02:51:00:00:00:01')" ] ||
    Fail "stdout with an unreadable list: $(cat "$work/unreadable.out")"
grep -qF "无法读取地址列表文件“ArpList.ini”" "$work/unreadable.err" || Fail "no word of the list"
[ "$(ls "$work/unreadable")" = ArpList.ini ] && [ -d "$work/unreadable/ArpList.ini" ] ||
    Fail "files written beside an unreadable list: $(ls "$work/unreadable")"

# A bad range: a usage error, and no probe or file.
status=0
(cd "$work/bad" && Scan "$quorvel" --scan 198.18.0.1-198.18.0.256) >"$work/bad.out" \
    2>"$work/bad.err" || status=$?
[ "$status" = 2 ] || Fail "a bad range gave status $status"
grep -qF "'198.18.0.256' is not an IPv4 address" "$work/bad.err" || Fail "$(cat "$work/bad.err")"
[ -z "$(ls "$work/bad")" ] && [ ! -s "$work/bad.out" ] || Fail "a bad range wrote something"
echo "scan mode end-to-end run: every check passed"
