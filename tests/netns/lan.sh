#!/usr/bin/env bash
# A small Ethernet LAN in network namespaces, for real ARP tests and benchmarks.
#
#   lan.sh up PREFIX N [--bits B] [--span S] [--shared-mac] [--shared-ip]
#   lan.sh down PREFIX
#   lan.sh check       its own test: a LAN that fails inside a helper leaves no namespace
#
# "up" builds (removing any leftover LAN of the same PREFIX first):
#   PREFIX-w   the switch: bridge br0, one port per station
#   PREFIX-s   the scanner: interface lan0, 198.18.0.1/B (B is 24 by default, 16..30)
#   PREFIX-hK  answering host K (K = 0..N-1): interface eth0 with its own MAC 02:51:00:00:xx:xx (K + 1),
#              spread over the first S addresses of 198.18.0.0 (S is the network size, at most
#              256, by default)
#   PREFIX-d   with --shared-mac: one more host, next to host 0 and with host 0's MAC
#   PREFIX-c   with --shared-ip: one more host with the last host's address and a MAC of its own
#              (MAC number N + 1), so that two MACs answer for that address
# Every other address of the network is silent. It then prints one line per station:
#   scanner NAMESPACE IFACE IP MAC
#   host NAMESPACE IP MAC
#   contender NAMESPACE IP MAC   (with --shared-ip)
#   silent IP          (a few addresses nobody answers, for tests)
# Only 198.18.0.0/15 is used, and only inside the namespaces made here; on failure the
# partial LAN is removed. "down" removes every namespace of the LAN and is safe to repeat.
set -euo pipefail

die() { echo "lan.sh: $*" >&2; exit 2; }

Down() {
    local prefix=$1 ns
    for ns in $(ip netns list | awk '{print $1}'); do
        case "$ns" in
            "$prefix"-s | "$prefix"-w | "$prefix"-d | "$prefix"-c | "$prefix"-h[0-9]*)
                ip netns delete "$ns" ;;
        esac
    done
}

Ip4() {  # offset from 198.18.0.0 -> dotted text
    local v=$1
    echo "198.$((18 + (v >> 16))).$(((v >> 8) & 255)).$((v & 255))"
}

Mac() {  # station number -> MAC
    printf '02:51:00:00:%02x:%02x' $((($1 >> 8) & 255)) $(($1 & 255))
}

AddStation() {  # namespace, offset, MAC, prefix length, port name[, kind]
    local ns=$1 offset=$2 mac=$3 bits=$4 port=$5 kind=${6:-host}
    ip netns add "$ns"
    ip -n "$sw" link add "$port" type veth peer name eth0 netns "$ns"
    ip -n "$sw" link set "$port" master br0 up
    ip -n "$ns" link set eth0 address "$mac" up
    ip -n "$ns" addr add "$(Ip4 "$offset")/$bits" dev eth0
    echo "$kind $ns $(Ip4 "$offset") $mac"
}

Up() {
    local prefix=$1 n=$2 bits=24 span="" shared=0 contender=0
    shift 2
    while [ $# -gt 0 ]; do
        case "$1" in
            --bits) bits=$2; shift 2 ;;
            --span) span=$2; shift 2 ;;
            --shared-mac) shared=1; shift ;;
            --shared-ip) contender=1; shift ;;
            *) die "unknown option $1" ;;
        esac
    done
    [[ "$n" =~ ^[0-9]+$ ]] && [ "$n" -ge 1 ] || die "N must be a positive number"
    [[ "$bits" =~ ^[0-9]+$ ]] && [ "$bits" -ge 16 ] && [ "$bits" -le 30 ] || die "bad --bits"
    local size=$((1 << (32 - bits)))
    [ -n "$span" ] || span=$((size < 256 ? size : 256))
    [[ "$span" =~ ^[0-9]+$ ]] && [ "$span" -le "$size" ] || die "bad --span"
    # Hosts from offset 10 on, evenly spread, never on an .0 or .255 address; packed one after
    # another when they fill the span.
    local stride=$(((span - 12 - shared) / n))
    [ "$stride" -ge 1 ] || die "$n hosts do not fit in $span addresses"
    [ "$stride" -ge 2 ] || [ "$shared" = 0 ] || die "--shared-mac needs room between the hosts"

    Down "$prefix"
    # From here on the script ends either with the whole LAN built or with nothing of it left,
    # whatever fails: a command here, one inside a helper, or an interruption.
    building=$prefix
    trap '[ -z "$building" ] || Down "$building"' EXIT
    trap 'exit 130' INT TERM
    sw="$prefix-w"
    ip netns add "$sw"
    ip -n "$sw" link add br0 type bridge
    ip -n "$sw" link set br0 up

    local s="$prefix-s"
    ip netns add "$s"
    ip -n "$sw" link add ps type veth peer name lan0 netns "$s"
    ip -n "$sw" link set ps master br0 up
    ip -n "$s" link set lo up
    ip -n "$s" link set lan0 address 02:51:ff:00:00:01 up
    ip -n "$s" addr add "198.18.0.1/$bits" dev lan0
    echo "scanner $s lan0 198.18.0.1 02:51:ff:00:00:01"

    local k offset=0 first=""
    for ((k = 0; k < n; k++)); do
        offset=$((10 + k * stride > offset + 1 ? 10 + k * stride : offset + 1))
        while :; do
            case $((offset & 255)) in 0 | 255) offset=$((offset + 1)) ;; *) break ;; esac
        done
        [ "$offset" -lt $((span - 2)) ] || die "$n hosts do not fit in $span addresses"
        [ -n "$first" ] || first=$offset
        AddStation "$prefix-h$k" "$offset" "$(Mac $((k + 1)))" "$bits" "p$k"
    done
    if [ "$contender" = 1 ]; then
        AddStation "$prefix-c" "$offset" "$(Mac $((n + 1)))" "$bits" pc contender
    fi
    if [ "$shared" = 1 ]; then
        AddStation "$prefix-d" $((first + 1)) "$(Mac 1)" "$bits" pd
    fi
    if [ "$stride" -ge 2 ]; then
        echo "silent $(Ip4 $((first + 1 + shared)))"
        echo "silent $(Ip4 $((first + 2 + shared)))"
    fi
    echo "silent $(Ip4 $((span - 2)))"
    building=""
}

# A 253-character prefix names the switch and the scanner, and is one too long for host 0.
Check() {
    local prefix=qlan$$ left
    prefix=$prefix$(printf 'x%.0s' $(seq $((253 - ${#prefix}))))
    if bash "$0" up "$prefix" 1 >/dev/null 2>&1; then
        bash "$0" down "$prefix"
        echo "FAIL: a LAN with a 253-character prefix was built"
        exit 1
    fi
    left=$(ip netns list | awk '{print $1}' | grep -c "^$prefix" || true)
    bash "$0" down "$prefix"
    [ "$left" -eq 0 ] || { echo "FAIL: a failed LAN left $left namespaces"; exit 1; }
    echo "ok: a LAN that failed inside a helper left no namespace"
}

if [ "${1:-}" = check ] && [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: lan.sh check builds network namespaces and needs root"
    exit 77
fi
[ "$(id -u)" -eq 0 ] || die "needs root (ip netns)"
case "${1:-}" in
    check) Check ;;
    up) [ $# -ge 3 ] || die "usage: lan.sh up PREFIX N [--bits B] [--span S] [--shared-mac] [--shared-ip]"
        Up "${@:2}" ;;
    down) [ $# -eq 2 ] || die "usage: lan.sh down PREFIX"
        Down "$2" ;;
    *) die "usage: lan.sh up PREFIX N [options] | down PREFIX" ;;
esac
