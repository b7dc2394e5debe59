#!/usr/bin/env bash
# Scan speed, side by side with arp-scan, on a namespace LAN of answering hosts, the last of
# which answers one second late (its kernel keeps silent; late_host answers for it).
#
#   bench/run-scan-bench.sh [--full] [--runs N]
#
# Cases (21 answering hosts unless said): a /24; a /22 inside a /16 network; the same /22 dense,
# with 1,000 answering hosts; with --full also the whole /16. For each case it
# times arp-scan (Debian's package) and our engine headless (scan_bench: the worker with the real
# probe, merging and saving every find as the window does), the raw back-end as root and, on the
# /24, the unprivileged one as user nobody; on the /24 both once more with the three files on a
# tmpfs (engine "-tmpfs"), which shows what the disk's sync adds on a busy machine. Medians of N runs (default 5 for the /24, 3 for the
# /22, 1 for the /16); the scanner's neighbour table is flushed before every run. Needs root.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
lan="$here/tests/netns/lan.sh"
bench="$here/build/bench/scan_bench"
late="$here/build/bench/late_host"
full=0
runs=""
while [ $# -gt 0 ]; do
    case "$1" in
        --full) full=1; shift ;;
        --runs) runs=$2; shift 2 ;;
        *) echo "usage: $0 [--full] [--runs N]" >&2; exit 2 ;;
    esac
done
[ "$(id -u)" -eq 0 ] || { echo "run-scan-bench: needs root (network namespaces)" >&2; exit 2; }

if ! command -v arp-scan >/dev/null; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends arp-scan
fi
if [ ! -x "$bench" ] || [ ! -x "$late" ]; then
    [ -f "$here/build/build.ninja" ] || "$here/scripts/setup.sh" run
    cmake --build "$here/build" --target scan_bench late_host
fi

prefix="qbench$$"
latepid=""
trap '[ -z "$latepid" ] || kill "$latepid" 2>/dev/null; "$lan" down "$prefix"' EXIT
ns="$prefix-s"

Now() { date +%s.%N; }
Median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
Field() { sed -n "s/.*$1=\([^ ]*\).*/\1/p"; }

# One timed run of arp-scan; prints "seconds hosts".
ArpScan() {
    ip netns exec "$ns" ip neigh flush dev lan0
    local t0 t1 hosts
    t0=$(Now)
    hosts=$(ip netns exec "$ns" arp-scan -q -x -I lan0 "$1" | awk '/^198\./ {print $1}' |
        sort -u | wc -l)
    t1=$(Now)
    echo "$(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}') $hosts"
}

# One run of our engine; prints "seconds hosts maxrss_kb" (hosts without the scanner's own).
Ours() {
    local backend=$1 first=$2 last=$3 out wrap=()
    ip netns exec "$ns" ip neigh flush dev lan0
    if [ "${backend%-tmpfs}" != "$backend" ]; then
        # Its own mount namespace with a tmpfs on /tmp, where scan_bench keeps the files.
        wrap=(unshare -m sh -c 'mount -t tmpfs tmpfs /tmp && exec "$@"' sh)
    fi
    if [ "${backend%-tmpfs}" = neigh ]; then
        out=$("${wrap[@]}" ip netns exec "$ns" setpriv --reuid=65534 --regid=65534 \
            --clear-groups "$bench" auto "$first" "$last")
    else
        out=$("${wrap[@]}" ip netns exec "$ns" "$bench" raw "$first" "$last")
    fi
    echo "$(echo "$out" | Field wall_s) $(($(echo "$out" | Field found) - 1)) \
$(echo "$out" | Field maxrss_kb)"
}

echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg) ($(nproc) cores)"
printf '%-14s %-20s %9s %6s %11s %6s %7s %9s\n' case engine wall_s hosts arp-scan_s hosts \
    ratio maxrss_kb

# case name, lan.sh options, first, last, arp-scan target, runs, engines[, answering hosts]
Case() {
    local name=$1 options=$2 first=$3 last=$4 target=$5 n=$6 engines=$7 hosts=${8:-21}
    local stations lns lip lmac
    stations=$("$lan" up "$prefix" "$hosts" $options)
    read -r _ lns lip lmac <<<"$(grep "^host $prefix-h$((hosts - 1)) " <<<"$stations")"
    ip netns exec "$lns" sysctl -q -w net.ipv4.conf.eth0.arp_ignore=8
    ip netns exec "$lns" "$late" eth0 "$lip" "$lmac" 1000 2>/dev/null &
    latepid=$!
    local i a=() ah=""
    for ((i = 0; i < n; i++)); do
        read -r t h <<<"$(ArpScan "$target")"
        a+=("$t")
        ah=$h
    done
    local am
    am=$(printf '%s\n' "${a[@]}" | Median)
    local engine
    for engine in $engines; do
        local o=() oh="" rss=""
        for ((i = 0; i < n; i++)); do
            read -r t h r <<<"$(Ours "$engine" "$first" "$last")"
            o+=("$t")
            oh=$h
            rss=$r
        done
        local om
        om=$(printf '%s\n' "${o[@]}" | Median)
        printf '%-14s %-20s %9.3f %6s %11.3f %6s %7.2f %9s\n' "$name" "quorvel-$engine" "$om" \
            "$oh" "$am" "$ah" "$(awk -v a="$om" -v b="$am" 'BEGIN {print a / b}')" "$rss"
    done
    kill "$latepid"
    wait "$latepid" || true
    latepid=""
    "$lan" down "$prefix"
}

Case "/24" "" 198.18.0.0 198.18.0.255 198.18.0.0/24 "${runs:-5}" \
    "raw neigh raw-tmpfs neigh-tmpfs"
Case "/22-in-/16" "--bits 16 --span 1024" 198.18.0.0 198.18.3.255 198.18.0.0/22 "${runs:-3}" raw
# Dense: 1,000 answering hosts (lan.sh packs them from .10 on); target at most 0.6 x arp-scan.
Case "/22-dense" "--bits 16 --span 1024" 198.18.0.0 198.18.3.255 198.18.0.0/22 "${runs:-3}" raw \
    1000
if [ "$full" = 1 ]; then
    Case "/16" "--bits 16 --span 65536" 198.18.0.0 198.18.255.255 198.18.0.0/16 "${runs:-1}" raw
fi

# The Windows engine: the same raw probe over the packet capture library (Wine's wpcap.dll), run
# under Wine beside the Linux raw probe on the same /24 with the late host, runs interleaved, both
# with their files on a tmpfs (the Wine prefix, where the Windows program's temporary folder is,
# lies on one), so that the engines are compared and not the disk. The prefix is made once inside
# the scanner's namespace, so that its adapter is the LAN's.
winbench=${QUORVEL_WIN_SCAN_BENCH:-$here/build-win/bench/scan_bench.exe}
winprefix=""
WineDone() {
    [ -n "$winprefix" ] || return 0
    WINEPREFIX="$winprefix" "$wineserver" -k 2>/dev/null || true
    WINEPREFIX="$winprefix" "$wineserver" -w 2>/dev/null || true
    umount "$winprefix" && rm -rf "$winprefix"
    winprefix=""
}
WineCase() {
    local n=${runs:-5} stations lns lip lmac i t h r out
    stations=$("$lan" up "$prefix" 21)
    read -r _ lns lip lmac <<<"$(grep "^host $prefix-h20 " <<<"$stations")"
    ip netns exec "$lns" sysctl -q -w net.ipv4.conf.eth0.arp_ignore=8
    ip netns exec "$lns" "$late" eth0 "$lip" "$lmac" 1000 2>/dev/null &
    latepid=$!
    winprefix=$(mktemp -d)
    mount -t tmpfs tmpfs "$winprefix"
    trap 'WineDone; [ -z "$latepid" ] || kill "$latepid" 2>/dev/null || true; "$lan" down "$prefix"' EXIT
    ip netns exec "$ns" env WINEPREFIX="$winprefix" "$here/cmake/wine-run.sh" wineboot --init \
        >/dev/null 2>&1
    local l=() w=() lh="" wh=""
    for ((i = 0; i < n; i++)); do
        read -r t h r <<<"$(Ours raw-tmpfs 198.18.0.0 198.18.0.255)"
        l+=("$t")
        lh=$h
        out=$(ip netns exec "$ns" env WINEPREFIX="$winprefix" "$here/cmake/wine-run.sh" \
            "$winbench" capture 198.18.0.0 198.18.0.255)
        w+=("$(echo "$out" | Field wall_s)")
        wh=$(($(echo "$out" | Field found) - 1))
    done
    local lm wm
    lm=$(printf '%s\n' "${l[@]}" | Median)
    wm=$(printf '%s\n' "${w[@]}" | Median)
    printf '%-14s %-20s %9.3f %6s %11s %6s %7.2f\n' "/24" "quorvel-wine-tmpfs" "$wm" "$wh" \
        "($lm)" "$lh" "$(awk -v a="$wm" -v b="$lm" 'BEGIN {print a / b}')"
    WineDone
    kill "$latepid"
    wait "$latepid" || true
    latepid=""
    "$lan" down "$prefix"
}
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
if [ -f "$winbench" ] && [ -x "$wineserver" ]; then
    WineCase
    echo "wine-tmpfs: the Windows engine under Wine; its ratio is to the median of the Linux"
    echo "raw probe's runs (raw-tmpfs) between its own (shown in brackets), not to arp-scan's."
else
    echo "wine-tmpfs: skipped (no $winbench: cmake --build --preset windows-cross" \
        "--target scan_bench)"
fi
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "hosts: answering hosts found, the scanner's own address not counted (21 expected, 1000 on"
echo "/22-dense, one of them answering 1.0 s late);"
echo "ratio: our median wall time divided by arp-scan's; neigh runs as user nobody."
