#!/usr/bin/env bash
# The scan mode (quorvel --scan) as a script runs it, in a namespace LAN with no display:
# SIGINT or SIGHUP during a /22 ends it within the probe's patience and a margin, every host it
# printed in the files; a closed stdout ends it saved with status 5; a range off every link exits
# 3; a folder given through a link another user planted exits 1; an unreadable list writes
# nothing and exits 1; a bad range exits 2 with a message. (window.sh compares its files with the
# window's.)
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
mkdir -m 777 "$work/unreadable" "$work/bad"

# Stopped with SIGINT, or SIGHUP as a dropped ssh session sends it, once the first host is out.
# Run unprivileged, it probes through the kernel's neighbour table, which takes new addresses at a
# bounded rate: the /22 would take minutes, so what it found is what came before the stop.
# Started as a job of its own (set -m): a shell starts other background commands with SIGINT
# ignored, and the program keeps that. Started with standard input closed, as some service
# managers start programs: the probe's own descriptors must not take its number.
for signal in INT HUP; do
    out=$work/stop-$signal
    mkdir -m 777 "$out"
    set -m
    ip netns exec "$ns" env -u DISPLAY -u WAYLAND_DISPLAY setpriv --reuid=65534 --regid=65534 \
        --clear-groups "$quorvel" --scan 198.18.0.0/22 --folder "$out" \
        >"$out.out" 2>"$out.err" <&- &
    app=$!
    set +m
    WaitFor 30 "the first host on stdout" test -s "$out.out"
    [ "$(readlink "/proc/$app/fd/0")" = /dev/null ] ||
        Fail "closed standard input became $(readlink "/proc/$app/fd/0")"
    started=$(date +%s%N)
    kill -"$signal" "$app"
    status=0
    wait "$app" || status=$?
    app=""
    took=$((($(date +%s%N) - started) / 1000000))
    echo "stopped by SIG$signal in $took ms"
    [ "$status" = 0 ] || { cat "$out.err"; Fail "stopped by SIG$signal: status $status"; }
    # The stop decides the address in progress at once and drops those not yet asked; the
    # probe's patience (1.5 s) and a margin of 1 s for a loaded machine bound it all the same.
    patience=1500 margin=1000
    [ "$took" -lt $((patience + margin)) ] ||
        Fail "the scan took $took ms to stop (patience $patience ms + margin $margin ms)"
    found=$(wc -l <"$out.out")
    [ "$found" -ge 1 ] && [ "$found" -lt 8 ] || Fail "$found hosts printed: the stop came at the end"
    while IFS=$'\t' read -r ip mac; do
        grep -qxF "$ip|$mac"$'\r' "$out/ArpList.ini" || Fail "ArpList.ini lacks $ip $mac"
        grep -qxF "arp -s $ip ${mac//:/-}"$'\r' "$out/BindArp.bat" || Fail "BindArp.bat lacks $ip"
    done <"$out.out"
    [ "$(grep -c '|' "$out/ArpList.ini")" = "$found" ] || Fail "ArpList.ini holds other rows"
done

# Its reader gone before the first find (as "| head -1" is gone after one): the scan stops at
# that find, saves it and says so with status 5, instead of dying by SIGPIPE unsaved.
mkdir -m 777 "$work/cut"
if Scan "$quorvel" --scan --folder "$work/cut" 198.18.0.0/24 2>"$work/cut.err" | true; then
    status=0
else
    status=${PIPESTATUS[0]}
fi
[ "$status" = 5 ] || { cat "$work/cut.err"; Fail "a closed stdout gave status $status"; }
grep -qF "standard output was closed" "$work/cut.err" || Fail "no word of the closed output"
grep -q '^198\.18\.0\.[0-9]*|02:51:' "$work/cut/ArpList.ini" || Fail "the unprinted find was not saved"

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

# A range no local link covers (a stale range in a cron job): nothing can be asked, which is the
# probe's fault, status 3 with the reason, and no file.
mkdir -m 777 "$work/offlink"
status=0
Scan "$quorvel" --scan --folder "$work/offlink" 198.18.8.0/24 >"$work/offlink.out" \
    2>"$work/offlink.err" || status=$?
[ "$status" = 3 ] || { cat "$work/offlink.err"; Fail "a range off every link gave status $status"; }
grep -qF "没有一个地址位于本机网卡所在的网络上" "$work/offlink.err" || Fail "$(cat "$work/offlink.err")"
grep -qF "lan0 198.18.0.1/22" "$work/offlink.err" || Fail "the local networks are not named"
[ -z "$(ls "$work/offlink")" ] || Fail "a scan that asked nothing wrote $(ls "$work/offlink")"

# Run by root with --folder through a link another user planted (at a folder only root may
# write): refused with status 1 and a message, nothing written there.
mkdir -m 700 "$work/rootonly"
ln -s "$work/rootonly" "$work/bad/lan"
chown -h 65534:65534 "$work/bad/lan"
status=0
Scan "$quorvel" --scan --folder "$work/bad/lan" 198.18.0.9-198.18.0.11 >/dev/null \
    2>"$work/planted.err" || status=$?
[ "$status" = 1 ] || { cat "$work/planted.err"; Fail "a planted folder link gave status $status"; }
grep -qF "is refused: it is reached through a link" "$work/planted.err" || Fail "$(cat "$work/planted.err")"
[ -z "$(ls "$work/rootonly")" ] || Fail "files written through a planted link"
rm "$work/bad/lan"

# A bad range: a usage error, and no probe or file.
status=0
(cd "$work/bad" && Scan "$quorvel" --scan 198.18.0.1-198.18.0.256) >"$work/bad.out" \
    2>"$work/bad.err" || status=$?
[ "$status" = 2 ] || Fail "a bad range gave status $status"
grep -qF "'198.18.0.256' is not an IPv4 address" "$work/bad.err" || Fail "$(cat "$work/bad.err")"
[ -z "$(ls "$work/bad")" ] && [ ! -s "$work/bad.out" ] || Fail "a bad range wrote something"
echo "scan mode end-to-end run: every check passed"
