#!/usr/bin/env bash
# The scan mode's output for programs, in a namespace LAN with no display: from a list with one
# stale MAC, one row that does not answer and hosts it lacks, --format json gives one JSON object
# per find and a summary whose states and counts are right; --exit-on-change exits 4 there, and
# 0 on a second scan that meets no change.
#
#   scan-json.sh QUORVEL LAN_SH
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: scan-json.sh QUORVEL LAN_SH"; exit 2; }
quorvel=$(realpath "$1") lan=$(realpath "$2")

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: the scan mode's JSON run builds network namespaces and needs root"
    exit 77
fi
command -v jq >/dev/null || { echo "SKIP: jq is not installed"; exit 77; }

prefix=qjson$$
ns=$prefix-s
work=$(mktemp -d)
Cleanup() {
    bash "$lan" down "$prefix" || true
    rm -rf "$work"
}
trap Cleanup EXIT
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
FailDetails() { cat "$work"/*.json "$work"/*.err 2>/dev/null || true; }
Scan() { ip netns exec "$ns" env -u DISPLAY -u WAYLAND_DISPLAY "$quorvel" --scan --folder "$work" \
    --format json --exit-on-change "$@"; }

# Hosts .10, .91 and .172, a second MAC answering for .172; the scanner itself is .1.
bash "$lan" up "$prefix" 3 --shared-ip >/dev/null
# .91's MAC is stale, .12 never answers, .10 is as listed; .1 and .172 are new to the list.
printf '%s\r\n' "[IP]" "198.18.0.10|02:51:00:00:00:01" "198.18.0.12|02:51:00:00:00:12" \
    "198.18.0.91|02:51:00:00:00:99" >"$work/ArpList.ini"

status=0
Scan 198.18.0.0/24 >"$work/first.json" 2>"$work/first.err" || status=$?
[ "$status" = 4 ] || Fail "a changed MAC and a contested address gave status $status"
# Every line parses on its own.
while IFS= read -r line; do
    jq -e . <<<"$line" >/dev/null || Fail "not a JSON object: $line"
done <"$work/first.json"
finds=$(jq -r 'select(.summary | not) | [.ip, .state, .old_mac // "-", .contested // false,
    .vendor] | join(" ")' "$work/first.json" | sort)
expected="198.18.0.1 new - false 本地管理地址
198.18.0.10 same - false 本地管理地址
198.18.0.172 new - true 本地管理地址
198.18.0.91 changed 02:51:00:00:00:99 false 本地管理地址"
[ "$finds" = "$expected" ] || Fail "the finds: $finds"
summary=$(tail -n 1 "$work/first.json")
[ "$(jq -c '[.summary, .range, .new, .changed, .missing, .contested, .missing_ips, .exit,
    .files["ArpList.ini"], .probe, .stopped, (.registry_date | test("^[0-9]{4}-[0-9]{2}-[0-9]{2}$"))]' \
    <<<"$summary")" = '[true,"198.18.0.0-198.18.0.255",1,1,1,1,["198.18.0.12"],4,true,"raw",false,true]' ] ||
    Fail "the summary: $summary"
grep -qF "新主机 1 台，MAC地址改变 1 台，未应答 1 台，多个MAC应答 1 个" "$work/first.err" ||
    Fail "the counts on stderr: $(cat "$work/first.err")"
# The row that did not answer stays.
grep -qF "198.18.0.12|02:51:00:00:00:12" "$work/ArpList.ini" || Fail "the silent row was dropped"

# Again, short of the contested address: nothing changed since, so the status is 0.
status=0
Scan 198.18.0.1-198.18.0.100 >"$work/second.json" 2>"$work/second.err" || status=$?
[ "$status" = 0 ] || Fail "a scan without changes gave status $status"
[ "$(jq -r 'select(.summary | not) | .state' "$work/second.json" | sort -u)" = same ] ||
    Fail "the second scan's states"
[ "$(tail -n 1 "$work/second.json" | jq -c '[.new, .changed, .missing, .contested, .exit]')" = \
    '[0,0,1,0,0]' ] || Fail "the second summary"
echo "scan mode JSON end-to-end run: every check passed"
