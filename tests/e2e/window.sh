#!/usr/bin/env bash
# The program as a user runs it: in a namespace LAN (198.18.0.0/24: three hosts, one more
# sharing host 0's MAC, one more answering for host 2's address with a MAC of its own), on an
# Xvfb display, started in a folder holding a hand-edited "ArpList.ini". The proposed range is
# scanned with Alt+S; at its end one warning lists the address whose MAC changed with both MACs
# and the contested address with both MACs (its text copied out with the mouse and Ctrl+A,
# Ctrl+C); the About box is opened with Alt+A and closed with Enter; a second Alt+S meets the
# range message; the window is closed the way a window manager's close button does it. The scan
# mode (--scan, no display) then scans the same LAN from the same starting list in a folder of
# its own. Then the three files are checked, the scan mode's byte for byte against the window's.
# Screenshots go to ARTIFACTS.
#
#   window.sh QUORVEL WM_CLOSE LAN_SH ARTIFACTS
set -euo pipefail
[ $# -eq 4 ] || { echo "usage: window.sh QUORVEL WM_CLOSE LAN_SH ARTIFACTS"; exit 2; }
quorvel=$(realpath "$1") wm_close=$(realpath "$2") lan=$(realpath "$3") artifacts=$(realpath -m "$4")

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: the end-to-end run builds network namespaces and needs root"
    exit 77
fi
for tool in Xvfb xdotool xclip import ip; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

prefix=qe2e$$
ns=$prefix-s
work=$(mktemp -d)
xvfb="" app=""
Cleanup() {
    [ -z "$app" ] || kill "$app" 2>/dev/null || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    bash "$lan" down "$prefix" || true
    rm -rf "$work"
}
trap Cleanup EXIT
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
Find() {  # a window's id by its title, or nothing after 20 s
    { timeout 20 ip netns exec "$ns" env DISPLAY="$display" xdotool search --sync --name "$1" ||
        true; } | head -n 1
}
Shot() { InNs import -window root "$artifacts/$1"; echo "screenshot: $artifacts/$1"; }
Holds() { grep -qF -- "$2" "$work/$1" 2>/dev/null; }

mkdir -p "$artifacts"
bash "$lan" up "$prefix" 3 --shared-mac --shared-ip
# One request per silent address; all are asked at once and given up 1.5 s later.
ip netns exec "$ns" sh -c 'echo 100 >/proc/sys/net/ipv4/neigh/lan0/retrans_time_ms &&
    echo 1 >/proc/sys/net/ipv4/neigh/lan0/mcast_solicit'

# The display lives in the scanner's namespace with the program (its socket is per namespace).
ip netns exec "$ns" Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp \
    3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
WaitFor 10 "Xvfb" test -s "$work/display"
display=:$(cat "$work/display")
rm "$work/display"

# Hand-edited: a comment, the setting in another case, blanks, a stale MAC for 198.18.0.91, the
# MAC of 198.18.0.172 from an earlier scan, and a row in lower-case dash form for a host that is
# not there.
printf '%s\r\n' "; our office, edited by hand" "trayicon = false" \
    " 198.18.0.91 | 02:51:00:00:00:99" "198.18.0.172|02:51:00:00:00:03" \
    "198.18.0.250|02-51-00-00-aa-bb" >"$work/ArpList.ini"
cp "$work/ArpList.ini" "$work/ArpList.start"

(cd "$work" && exec ip netns exec "$ns" env DISPLAY="$display" QT_QPA_PLATFORM=xcb \
    "$quorvel" >"$work/quorvel.log" 2>&1) &
app=$!
window=$(Find '^Quorvel$')
[ -n "$window" ] || { cat "$work/quorvel.log"; Fail "no main window"; }
InNs xdotool windowfocus --sync "$window"
sleep 0.5
Shot main-before-scan.png

InNs xdotool key alt+s
WaitFor 20 "the first find" Holds ArpList.ini "198.18.0.10|"
Shot main-during-scan.png
# Two MACs answer for 198.18.0.172, 198.18.0.91 answers with another MAC than the list's: at the
# scan's end one warning names both.
Warning() { InNs xdotool search --onlyvisible --name '^提示$' 2>/dev/null | head -n 1; }
WarningShown() { [ -n "$(Warning)" ]; }
WaitFor 90 "the contested-address warning" WarningShown
box=$(Warning)
sleep 0.5
Shot contested-warning.png
eval "$(InNs xdotool getwindowgeometry --shell "$box")"
InNs xdotool mousemove --window "$box" $((WIDTH / 2)) 30 click 1
InNs xdotool key ctrl+a ctrl+c
Copied() {
    warning=$(InNs timeout 5 xclip -o -selection clipboard 2>/dev/null || true)
    grep -qF 198.18.0.172 <<<"$warning"
}
WaitFor 10 "the warning's text on the clipboard" Copied
for text in 198.18.0.172 02:51:00:00:00:03 02:51:00:00:00:04 \
    "198.18.0.91：02:51:00:00:00:99（本地管理地址） -> 02:51:00:00:00:02（本地管理地址）"; do
    grep -qF "$text" <<<"$warning" || Fail "the warning lacks $text: $warning"
done
# One box: the replaced MAC first, then the contested address; nothing else.
[ "$(grep '^198\.' <<<"$warning" | sed 's/：.*//' | tr '\n' ' ')" = "198.18.0.91 198.18.0.172 " ] ||
    Fail "the warning lists other addresses: $warning"
InNs xdotool key Return
WaitFor 10 "the warning to close" bash -c "! ip netns exec $ns env DISPLAY=$display \
    xdotool search --onlyvisible --name '^提示\$' >/dev/null"
Shot main-after-scan.png

InNs xdotool windowfocus --sync "$window"
InNs xdotool key alt+a
[ -n "$(Find '^关于$')" ] || Fail "no About box"
sleep 0.5
Shot about.png
InNs xdotool key Return
WaitFor 10 "the About box to close" bash -c "! ip netns exec $ns env DISPLAY=$display \
    xdotool search --onlyvisible --name '^关于\$' >/dev/null"

# Once the scan has ended the start field reads 198.18.1.0, past the end field: Alt+S gives the
# range message. While the scan still runs, the start button is disabled and Alt+S does nothing.
RangeMessageShown() {
    InNs xdotool windowfocus --sync "$window" && InNs xdotool key alt+s && sleep 1 &&
        InNs xdotool search --onlyvisible --name '^提示$' >/dev/null
}
WaitFor 90 "the range message" RangeMessageShown
sleep 0.5
Shot range-message.png
InNs xdotool key Return
sleep 0.5

started=$(date +%s%N)
InNs "$wm_close" "$window"
WaitFor 5 "the program to end" bash -c "! kill -0 $app 2>/dev/null"
wait "$app" || Fail "the program exited with status $?"
app=""
idle_close=$((($(date +%s%N) - started) / 1000000))
echo "closed in $idle_close ms"

# The scan mode, from the same starting list in a folder of its own, with no display: the same
# range (the proposed one), the answering hosts on stdout, the same report on stderr; its files
# are compared with the window's at the end.
mkdir "$work/cli"
cp "$work/ArpList.start" "$work/cli/ArpList.ini"
status=0
ip netns exec "$ns" env -u DISPLAY -u WAYLAND_DISPLAY "$quorvel" --scan --folder "$work/cli" \
    >"$work/cli.out" 2>"$work/cli.err" || status=$?
[ "$status" = 0 ] || { cat "$work/cli.err"; Fail "the scan mode exited with status $status"; }
[ "$(cat "$work/cli.out")" = "$(printf '%s\t%s\n' 198.18.0.1 02:51:FF:00:00:01 \
    198.18.0.10 02:51:00:00:00:01 198.18.0.11 02:51:00:00:00:01 198.18.0.91 02:51:00:00:00:02)" ] ||
    Fail "the scan mode's stdout: $(cat -A "$work/cli.out")"
# The report, then the hosts new to the list and the row that did not answer.
[ "$(grep '^198\.' "$work/cli.err" | sed 's/：.*//' | tr '\n' ' ')" = \
    "198.18.0.91 198.18.0.172 198.18.0.1 198.18.0.10 198.18.0.11 198.18.0.250 " ] &&
    grep -qF "198.18.0.91：02:51:00:00:00:99（本地管理地址） -> 02:51:00:00:00:02（本地管理地址）" \
        "$work/cli.err" ||
    Fail "the scan mode's report: $(cat "$work/cli.err")"

# Started again in the same folder and closed during a scan while a probe waits: the worker
# waits 1.5 s for the silent 198.18.0.2 to answer late, and the program must still end within
# one second of the close.
cp "$work/ArpList.ini" "$work/ArpList.before"
ip netns exec "$ns" sh -c 'echo 3000 >/proc/sys/net/ipv4/neigh/lan0/retrans_time_ms'
(cd "$work" && exec ip netns exec "$ns" env DISPLAY="$display" QT_QPA_PLATFORM=xcb \
    "$quorvel" >"$work/quorvel2.log" 2>&1) &
app=$!
window=$(Find '^Quorvel$')
[ -n "$window" ] || Fail "no main window the second time"
InNs xdotool windowfocus --sync "$window"
Sent() { ip netns exec "$ns" cat /sys/class/net/lan0/statistics/tx_packets; }
idle_sent=$(Sent)
InNs xdotool key alt+s
Scanning() { [ "$(Sent)" -gt "$idle_sent" ]; }
WaitFor 10 "the scan's first requests" Scanning
started=$(date +%s%N)
InNs "$wm_close" "$window"
WaitFor 5 "the program to end during a scan" bash -c "! kill -0 $app 2>/dev/null"
wait "$app" || { cat "$work/quorvel2.log"; Fail "the program exited with status $? during a scan"; }
app=""
took=$((($(date +%s%N) - started) / 1000000))
echo "closed during a scan, a probe waiting, in $took ms (idle: $idle_close ms)"
# A probe waited out would add most of its 1.5 s patience to what closing takes anyway.
[ "$took" -lt $((idle_close + 1000)) ] || Fail "closing during a scan took $took ms"
! grep -Eiq 'terminate called|abort|destroyed while|segmentation|exception' "$work/quorvel2.log" ||
    { cat "$work/quorvel2.log"; Fail "the program complained at closing"; }
cmp -s "$work/ArpList.ini" "$work/ArpList.before" || Fail "ArpList.ini changed by the closed scan"

# The files, byte for byte where the content is fixed.
expected_rows=$(printf '%s\r\n' "TrayIcon=False" \
    "198.18.0.1|02:51:FF:00:00:01" "198.18.0.10|02:51:00:00:00:01" \
    "198.18.0.11|02:51:00:00:00:01" "198.18.0.91|02:51:00:00:00:02" \
    "198.18.0.172|02:51:00:00:00:03" "198.18.0.250|02-51-00-00-aa-bb" | od -c)
# The contested address keeps the MAC of the earlier scan; the second MAC is in no file.
! grep -qiE '02:51:00:00:00:04|02-51-00-00-00-04|025100000004' "$work/ArpList.ini" \
    "$work/BindArp.bat" "$work/BindDhcp.bat" || Fail "a file holds the contested address's other MAC"
head -c 22 "$work/ArpList.ini" | grep -qx ';Generated by Quorvel.' || Fail "list header"
[ "$(tail -n +2 "$work/ArpList.ini" | od -c)" = "$expected_rows" ] || {
    cat -A "$work/ArpList.ini"
    Fail "ArpList.ini rows"
}
for line in "@ECHO OFF" "arp -s 198.18.0.1 02-51-FF-00-00-01" "arp -s 198.18.0.11 02-51-00-00-00-01" \
    "arp -s 198.18.0.91 02-51-00-00-00-02" "arp -s 198.18.0.250 02-51-00-00-AA-BB"; do
    grep -qxF "$line"$'\r' "$work/BindArp.bat" || Fail "BindArp.bat lacks: $line"
done
for line in "echo scope 198.18.0.0>>netsh.txt" \
    "echo add reservedip 198.18.0.91 025100000002>>netsh.txt" \
    "echo add reservedip 198.18.0.250 02510000AABB>>netsh.txt" "del netsh.txt" "pause"; do
    grep -qxF "$line"$'\r' "$work/BindDhcp.bat" || Fail "BindDhcp.bat lacks: $line"
done
[ "$(grep -c '^arp -s ' "$work/BindArp.bat")" = 6 ] || Fail "BindArp.bat row count"
for file in ArpList.ini BindArp.bat BindDhcp.bat; do
    cmp "$work/$file" "$work/cli/$file" || Fail "the scan mode's $file differs from the window's"
done
cp "$work/ArpList.ini" "$work/BindArp.bat" "$work/BindDhcp.bat" "$artifacts/"
echo "end-to-end run: every check passed"
