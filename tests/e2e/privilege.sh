#!/usr/bin/env bash
# The program started the three ways that give it the raw ARP socket, each in a namespace LAN
# (198.18.0.0/24, three hosts) on an Xvfb display: a copy carrying the file capability
# cap_net_raw+ep started by nobody, root with SUDO_UID/SUDO_GID of nobody, and root itself.
# Once the window is up, /proc/PID/status must show what that start gave up, and the program
# must hold one packet socket whose filter no code inside it could take off (HELD_FILTER tries);
# the proposed range is then scanned with Alt+S and every host must be found at the raw probe's
# speed. A capable copy in a folder nobody may write, or beside a qt.conf others may write, must
# hold no packet socket at all (the toolkit loads plugins from the program's folder and takes
# their folder from qt.conf). A plugin that leaves a marker file when loaded is offered through
# QT_PLUGIN_PATH, QT_QPA_GENERIC_PLUGINS and -plugin: no start with a privilege to give up may
# load it, while a plain start by nobody does (so the checks are not vacuous). Each status goes
# to ARTIFACTS.
#
#   privilege.sh QUORVEL MARKER_PLUGIN WM_CLOSE LAN_SH ARTIFACTS HELD_FILTER
set -euo pipefail
[ $# -eq 6 ] || {
    echo "usage: privilege.sh QUORVEL MARKER_PLUGIN WM_CLOSE LAN_SH ARTIFACTS HELD_FILTER"
    exit 2
}
quorvel=$(realpath "$1") plugin=$(realpath "$2") wm_close=$(realpath "$3") lan=$(realpath "$4")
artifacts=$(realpath -m "$5") held_filter=$(realpath "$6")

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: the privilege run builds network namespaces and starts programs as nobody: needs root"
    exit 77
fi
for tool in Xvfb xdotool ip setcap setpriv qtpaths6; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
id nobody >/dev/null 2>&1 || { echo "SKIP: there is no user nobody"; exit 77; }

prefix=qpriv$$
ns=$prefix-s
# Where nobody may run the programs from: a folder only root may write, open to all.
base=$(mktemp -d /tmp/quorvel-privilege.XXXXXX)
chmod 0755 "$base"
xvfb="" app=""
Cleanup() {
    [ -z "$app" ] || kill "$app" 2>/dev/null || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    bash "$lan" down "$prefix" || true
    rm -rf "$base"
}
trap Cleanup EXIT
running=""  # the start under way, whose output a failure shows
FailDetails() {
    [ -z "$running" ] || { echo "--- output of the $running start:"; cat "$base/$running.log"; }
}
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
Now() { echo $(($(date +%s%N) / 1000000)); }

install -d -m 0755 "$base/bin" "$base/plugins" "$base/plugins/generic"
install -m 0755 "$quorvel" "$base/bin/quorvel"
install -m 0755 "$quorvel" "$base/bin/quorvel-cap"
install -m 0644 "$plugin" "$base/plugins/generic/"
setcap cap_net_raw+ep "$base/bin/quorvel-cap" 2>/dev/null &&
    getcap "$base/bin/quorvel-cap" | grep -q cap_net_raw ||
    { echo "SKIP: $base cannot hold file capabilities (no extended attributes)"; exit 77; }
nobody_uid=$(id -u nobody) nobody_gid=$(id -g nobody)
nobody_groups=$(id -G nobody | tr ' ' '\n' | sort -n | xargs)

mkdir -p "$artifacts"
bash "$lan" up "$prefix" 3
# Silent addresses cost 100 ms each to the probe that asks one at a time: the unprivileged
# probe needs 16 s to reach the last host, the raw one well under a second.
ip netns exec "$ns" sh -c 'echo 100 >/proc/sys/net/ipv4/neigh/lan0/retrans_time_ms &&
    echo 1 >/proc/sys/net/ipv4/neigh/lan0/mcast_solicit'
ip netns exec "$ns" Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp \
    3>"$base/display" 2>"$base/xvfb.log" &
xvfb=$!
WaitFor 10 "Xvfb" test -s "$base/display"
display=:$(cat "$base/display")

Packets() {  # the packet sockets the program holds, into $packets
    local inodes
    inodes=$(find "/proc/$app/fd" -lname 'socket:*' -printf '%l\n' | tr -dc '0-9\n')
    packets=$(ip netns exec "$ns" awk 'NR > 1 { print $9 }' /proc/net/packet |
        grep -cxF -f <(printf '%s\n' $inodes) || true)
}
# Starts the program: NAME FOLDER COMMAND... Once its window is up, leaves its status in
# $status and the number of packet sockets it holds in $packets.
Start() {
    local name=$1 dir=$2
    shift 2
    running=$name
    (cd "$dir" && exec ip netns exec "$ns" env DISPLAY="$display" QT_QPA_PLATFORM=xcb \
        QT_PLUGIN_PATH="$base/plugins" QT_QPA_GENERIC_PLUGINS=quorvelmarker \
        "$@" -plugin quorvelmarker >"$base/$name.log" 2>&1) &
    app=$!
    window=$({ timeout 20 ip netns exec "$ns" env DISPLAY="$display" \
        xdotool search --sync --name '^Quorvel$' || true; } | head -n 1)
    [ -n "$window" ] || Fail "$name: no main window"
    status=$(grep -E '^(Uid|Gid|Groups|Cap[A-Za-z]+|NoNewPrivs):' "/proc/$app/status")
    Packets
    printf '%s\npacket sockets: %s\n' "$status" "$packets" >"$artifacts/$name-status.txt"
    echo "== $name: /proc/PID/status once the window is up"
    cat "$artifacts/$name-status.txt"
}
Close() {
    InNs "$wm_close" "$window"
    WaitFor 5 "$1: the program to end" bash -c "! kill -0 $app 2>/dev/null"
    wait "$app" || Fail "$1: the program exited with status $?"
    app=""
}
# Scans the proposed range: NAME FOLDER. Every host must be found at the raw probe's speed.
Scan() {
    local name=$1 dir=$2 started
    InNs xdotool windowfocus --sync "$window"
    started=$(Now)
    InNs xdotool key alt+s
    WaitFor 20 "$name: the last host" grep -qsF "198.18.0.172|" "$dir/ArpList.ini"
    found_ms=$(($(Now) - started))
    # The scan has ended once Alt+S meets the range message (the start field is past the end).
    RangeMessage() {
        InNs xdotool key alt+s && sleep 0.05 &&
            InNs xdotool search --onlyvisible --name '^提示$' >/dev/null
    }
    WaitFor 30 "$name: the scan's end" RangeMessage
    scan_ms=$(($(Now) - started))
    echo "$name: every host found in $found_ms ms, scan of the /24 ended within $scan_ms ms"
    InNs xdotool key Return
    sleep 0.3
    for host in 198.18.0.10 198.18.0.91 198.18.0.172; do
        grep -qF "$host|02:51:00:00:00:" "$dir/ArpList.ini" || Fail "$name: $host not found"
    done
    [ "$found_ms" -lt 8000 ] || Fail "$name: $found_ms ms to the last host is not the raw probe"
}
Run() {  # NAME FOLDER COMMAND...: start, scan, close; one packet socket held all along
    Start "$@"
    [ "$packets" = 1 ] || Fail "$1: $packets packet sockets held, not one"
    "$held_filter" "$app" || Fail "$1: the held socket's filter is not locked"
    Scan "$1" "$2"
    Packets
    [ "$packets" = 1 ] || Fail "$1: $packets packet sockets held after the scan, not one"
    Close "$1"
}
Field() { printf '%s\n' "$status" | awk -v k="$1:" '$1 == k { $1 = ""; print substr($0, 2) }'; }
Expect() {  # name, field, expected value
    [ "$(Field "$2")" = "$3" ] || Fail "$1: $2 is '$(Field "$2")', not '$3'"
}
NoCaps=0000000000000000
Owners() { stat -c %u "$1/ArpList.ini" "$1/BindArp.bat" "$1/BindDhcp.bat" | sort -u | xargs; }

# 1. The capable copy, started by nobody: every capability gone, no way to gain any, and the
#    plugin never loaded although offered three ways.
install -d -m 0755 -o nobody -g "$nobody_gid" "$base/caps"
Run caps "$base/caps" setpriv --reuid="$nobody_uid" --regid="$nobody_gid" --init-groups \
    "$base/bin/quorvel-cap"
for f in CapEff CapPrm CapInh CapAmb; do Expect caps "$f" "$NoCaps"; done
Expect caps NoNewPrivs 1
Expect caps Uid "$nobody_uid $nobody_uid $nobody_uid $nobody_uid"
[ ! -e "$base/caps/plugin-loaded" ] || Fail "caps: the offered plugin was loaded"

# 2. Through sudo: nobody in every id and group, and so are the files it saves. The environment
#    is the caller's, but the rights came from a rule for this program: the plugin stays out.
install -d -m 0755 -o nobody -g "$nobody_gid" "$base/sudo"
Run sudo "$base/sudo" env SUDO_UID="$nobody_uid" SUDO_GID="$nobody_gid" SUDO_USER=nobody \
    "$base/bin/quorvel"
Expect sudo Uid "$nobody_uid $nobody_uid $nobody_uid $nobody_uid"
Expect sudo Gid "$nobody_gid $nobody_gid $nobody_gid $nobody_gid"
[ "$(Field Groups | xargs -n 1 | sort -n | xargs)" = "$nobody_groups" ] ||
    Fail "sudo: groups '$(Field Groups)', not nobody's ($nobody_groups)"
for f in CapEff CapPrm CapInh CapAmb; do Expect sudo "$f" "$NoCaps"; done
[ "$(Owners "$base/sudo")" = "$nobody_uid" ] || Fail "sudo: saved files owned by $(Owners "$base/sudo")"
[ ! -e "$base/sudo/plugin-loaded" ] || Fail "sudo: the offered plugin was loaded"

# 3. Root itself: uid 0 with the three file capabilities only. It saves into a folder and a
#    list that belong to nobody, which only CAP_DAC_OVERRIDE allows.
install -d -m 0755 -o nobody -g "$nobody_gid" "$base/root"
printf '%s\r\n' ";by nobody" "198.18.0.250|02:51:00:00:AA:BB" >"$base/root/ArpList.ini"
printf '%s\r\n' "@ECHO OFF" >"$base/root/BindArp.bat"
printf '%s\r\n' "pause" >"$base/root/BindDhcp.bat"
chown nobody:"$nobody_gid" "$base/root/ArpList.ini" "$base/root/BindArp.bat" "$base/root/BindDhcp.bat"
Run root "$base/root" "$base/bin/quorvel"
Expect root Uid "0 0 0 0"
Expect root CapEff 000000000000000b  # CAP_CHOWN, CAP_DAC_OVERRIDE, CAP_FOWNER
Expect root CapPrm 000000000000000b
Expect root CapInh "$NoCaps"
Expect root CapAmb "$NoCaps"
Expect root NoNewPrivs 1
grep -qF "198.18.0.250|02:51:00:00:AA:BB" "$base/root/ArpList.ini" || Fail "root: the list lost a row"
grep -qF "arp -s 198.18.0.172 " "$base/root/BindArp.bat" || Fail "root: BindArp.bat not saved"
grep -qF "198.18.0.172 " "$base/root/BindDhcp.bat" || Fail "root: BindDhcp.bat not saved"
[ "$(Owners "$base/root")" = "$nobody_uid" ] || Fail "root: saved files owned by $(Owners "$base/root")"
[ ! -e "$base/root/plugin-loaded" ] || Fail "root: the offered plugin was loaded"
# 4. The capable copy in a folder nobody may write, where the toolkit would load nobody's
#    plugins: the socket is given up at start.
install -d -m 0755 -o nobody -g "$nobody_gid" "$base/unsafe" "$base/unsafe/bin"
cp -a "$base/bin/quorvel-cap" "$base/unsafe/bin/"
getcap "$base/unsafe/bin/quorvel-cap" | grep -q cap_net_raw || Fail "unsafe: the copy lost its capability"
Start unsafe "$base/unsafe" setpriv --reuid="$nobody_uid" --regid="$nobody_gid" --init-groups \
    "$base/unsafe/bin/quorvel-cap"
[ "$packets" = 0 ] || Fail "unsafe: a packet socket held next to plugins nobody may place"
Expect unsafe CapEff "$NoCaps"
Close unsafe
# 5. The capable copy in a folder only root may write, beside a qt.conf its group may write,
#    whose "[Paths] Plugins=" line chooses the plugins (here still the toolkit's own, so that the
#    window comes up): the socket is given up at start.
install -d -m 0755 "$base/qtconf" "$base/qtconf/bin"
install -d -m 0755 -o nobody -g "$nobody_gid" "$base/qtconf/run"
cp -a "$base/bin/quorvel-cap" "$base/qtconf/bin/"
printf '[Paths]\nPrefix=%s\nPlugins=%s\n' "$(qtpaths6 --query QT_INSTALL_PREFIX)" \
    "$(qtpaths6 --query QT_INSTALL_PLUGINS)" >"$base/qtconf/bin/qt.conf"
chmod 0664 "$base/qtconf/bin/qt.conf"
Start qtconf "$base/qtconf/run" setpriv --reuid="$nobody_uid" --regid="$nobody_gid" --init-groups \
    "$base/qtconf/bin/quorvel-cap"
[ "$packets" = 0 ] || Fail "qtconf: a packet socket held beside a qt.conf others may write"
Close qtconf
# 6. A plain start by nobody, with nothing to give up: no packet socket, and the offered plugin
#    loads, which shows that the checks above that it stays out can fail.
install -d -m 0755 -o nobody -g "$nobody_gid" "$base/plain"
Start plain "$base/plain" setpriv --reuid="$nobody_uid" --regid="$nobody_gid" --init-groups \
    "$base/bin/quorvel"
[ "$packets" = 0 ] || Fail "plain: $packets packet sockets held"
Expect plain NoNewPrivs 0
Close plain
[ -e "$base/plain/plugin-loaded" ] || Fail "plain: the offered plugin was not loaded (test plugin broken?)"
echo "privilege run: every check passed"
