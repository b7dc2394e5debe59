#!/usr/bin/env bash
# The Windows program from its zip, as a Windows user runs it, under Wine on an Xvfb display with
# the windows platform plugin, beside the Linux program: each is started in a folder of its own
# holding the same hand-edited "ArpList.ini", inside a namespace LAN (198.18.0.0/24) so that both
# see the same local address. In each, a right click on the list's empty part opens its context
# menu and "删除地址" with no row selected rewrites the three files; then Alt+S scans the range the
# window proposes from its adapter (198.18.0.1 - 198.18.0.255: three hosts, two MACs answering
# for the last), the Windows program through Wine's packet capture library, until the warning
# that names the contested address. After each step the three files must be byte-identical.
# A wpcap.dll planted beside quorvel.exe and one in its working folder must never load (each
# would leave "wpcap-loaded.txt" beside itself). Once more with Wine's wpcap.dll disabled: the
# scan goes through SendARP, which Wine does not support, and ends with a warning that says so,
# the list unchanged. The console program's scan mode (quorvel-cli.exe --scan) writes the same
# files as the window, and without the library ends with status 3. Screenshots go to ARTIFACTS.
#
#   window-wine.sh ZIP LINUX_QUORVEL LAN_SH ARTIFACTS PLANTED_WPCAP_DLL
set -euo pipefail
[ $# -eq 5 ] || {
    echo "usage: window-wine.sh ZIP LINUX_QUORVEL LAN_SH ARTIFACTS PLANTED_WPCAP_DLL"
    exit 2
}
zip=$(realpath "$1") linux=$(realpath "$2") lan=$(realpath "$3") artifacts=$(realpath -m "$4")
planted=$(realpath "$5")

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: the window run under Wine builds a network namespace and needs root"
    exit 77
fi
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine || true)
for tool in Xvfb xdotool import ip unzip "$wine"; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

prefix=qwine$$
ns=$prefix-s
work=$(mktemp -d)
xvfb="" app=""
Cleanup() {
    [ -z "$app" ] || kill "$app" 2>/dev/null || true
    [ -d "$work/wineprefix" ] && WINEPREFIX=$work/wineprefix "$(dirname "$wine")/wineserver" -k \
        2>/dev/null || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    bash "$lan" down "$prefix" || true
    rm -rf "$work"
}
trap Cleanup EXIT
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
Find() {  # a visible window's id by its title, or nothing after the given seconds
    { timeout "$2" ip netns exec "$ns" env DISPLAY="$display" \
        xdotool search --sync --onlyvisible --name "$1" || true; } | head -n 1
}
Wine() {  # the program's own folder only: no WINEPATH, no Qt settings from outside
    InNs env -u QT_QPA_PLATFORM -u QT_PLUGIN_PATH -u WINEPATH WINEPREFIX="$work/wineprefix" \
        WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d${overrides:-}" \
        "$wine" "$@"
}
overrides=""
FailDetails() { InNs import -window root "$artifacts/wine-failure.png" || true; }
# The visible windows: a menu, under Wine as under X, is a window of its own.
Visible() { InNs xdotool search --onlyvisible --name '' 2>/dev/null | wc -l; }
MoreVisible() { [ "$(Visible)" -gt "$1" ]; }
# Right-clicks the list below its rows and, once its menu is shown, picks "删除地址(&D)"; waits
# for the last file written (each is renamed into place whole). With a name, a screenshot of the
# menu: the window has painted by then.
SaveThroughMenu() {  # window folder [screenshot]
    [ ! -e "$2/BindDhcp.bat" ] || Fail "files written before the save in $2"
    InNs xdotool windowactivate --sync "$1" 2>/dev/null || InNs xdotool windowfocus --sync "$1"
    local shown
    shown=$(Visible)
    InNs xdotool mousemove --window "$1" 200 150 click 3
    WaitFor 20 "the list's menu" MoreVisible "$shown"
    [ -z "${3:-}" ] || InNs import -window root "$artifacts/$3"
    InNs xdotool key d
    WaitFor 20 "BindDhcp.bat in $2" test -s "$2/BindDhcp.bat"
    mkdir -p "$2/saved"
    cp "$2"/*.ini "$2"/*.bat "$2/saved/"
}
Warning() { InNs xdotool search --onlyvisible --name '^提示$' 2>/dev/null | head -n 1 || true; }
WarningShown() { [ -n "$(Warning)" ]; }
# Alt+S, then the scan's end: the warning it ends with, closed with Enter.
ScanToItsEnd() {  # window, screenshot name
    InNs xdotool windowactivate --sync "$1" 2>/dev/null || InNs xdotool windowfocus --sync "$1"
    # A click on the list's empty part: the window has the keyboard, however it was started. The
    # key that follows reaches the program after the click, in the order the server sent them.
    InNs xdotool mousemove --window "$1" 200 150 click 1
    InNs xdotool key alt+s
    WaitFor 60 "the warning at the scan's end" WarningShown
    InNs import -window root "$artifacts/$2"
    InNs xdotool windowactivate --sync "$(Warning)" 2>/dev/null || true
    InNs xdotool key Return
    WaitFor 10 "the warning to close" bash -c "! ip netns exec $ns env DISPLAY=$display \
        xdotool search --onlyvisible --name '^提示\$' >/dev/null"
}
Quit() {
    kill "$app"
    wait "$app" 2>/dev/null || true
    app=""
}
QuitWine() {  # the program under Wine ends with every process of its prefix
    Quit
    WINEPREFIX="$work/wineprefix" "$(dirname "$wine")/wineserver" -k 2>/dev/null || true
    WINEPREFIX="$work/wineprefix" "$(dirname "$wine")/wineserver" -w 2>/dev/null || true
}
Same() {  # folder, folder, what: the three files byte for byte
    local f
    for f in ArpList.ini BindArp.bat BindDhcp.bat; do
        cmp "$1/$f" "$2/$f" || {
            diff <(od -c "$1/$f") <(od -c "$2/$f") | head -n 20
            Fail "$f differs between the Linux and the Windows program $3"
        }
    done
}

mkdir -p "$artifacts" "$work/linux" "$work/windows" "$work/sendarp" "$work/cli" "$work/app"
unzip -q "$zip" -d "$work/app"
exe=$(find "$work/app" -name quorvel.exe | head -n 1)
[ -n "$exe" ] || Fail "no quorvel.exe in $zip"

bash "$lan" up "$prefix" 3 --shared-ip >/dev/null
ip netns exec "$ns" Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp \
    3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
WaitFor 10 "Xvfb" test -s "$work/display"
display=:$(cat "$work/display")

# Hand-edited: a comment, the setting in another case, blanks, a row in lower-case dash form and
# two rows sharing a MAC.
for d in linux windows sendarp cli; do
    printf '%s\r\n' "; our office, edited by hand" "trayicon = false" \
        " 198.18.0.91 | 02:51:00:00:00:99" "198.18.0.250|02-51-00-00-aa-bb" \
        "198.18.0.7|02:51:00:00:00:99" >"$work/$d/ArpList.ini"
done

# The Linux program first.
(cd "$work/linux" && exec ip netns exec "$ns" env DISPLAY="$display" QT_QPA_PLATFORM=xcb \
    "$linux" >"$work/linux.log" 2>&1) &
app=$!
window=$(Find '^Quorvel$' 20)
[ -n "$window" ] || { cat "$work/linux.log"; Fail "no window of the Linux program"; }
SaveThroughMenu "$window" "$work/linux"
ScanToItsEnd "$window" linux-after-scan.png
Quit

begin=$SECONDS
Wine wineboot --init >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log"; Fail "wineboot"; }
echo "Wine prefix made in $((SECONDS - begin)) s"

# The planted libraries: beside the program and in its working folder.
cp "$planted" "$(dirname "$exe")/wpcap.dll"
cp "$planted" "$work/windows/wpcap.dll"
cp "$planted" "$work/sendarp/wpcap.dll"
Planted() {
    local m
    for m in "$(dirname "$exe")" "$work/windows" "$work/sendarp"; do
        [ ! -e "$m/wpcap-loaded.txt" ] || Fail "the wpcap.dll planted in $m was loaded"
    done
}

(cd "$work/windows" && Wine "$exe" >"$work/windows.log" 2>&1) &
app=$!
window=$(Find '^Quorvel$' 60)
[ -n "$window" ] || { cat "$work/windows.log"; Fail "no window titled Quorvel under Wine"; }
SaveThroughMenu "$window" "$work/windows" wine-main.png
echo "screenshot: $artifacts/wine-main.png"
InNs import -window root "$artifacts/wine-after-save.png"
Same "$work/linux/saved" "$work/windows/saved" "after the save"
grep -q '^198\.18\.0\.250|02-51-00-00-aa-bb'$'\r''$' "$work/windows/ArpList.ini" ||
    Fail "the rows of the list were not kept"
echo "window under Wine: the three files are byte-identical to the Linux program's after a save"
begin=$SECONDS
ScanToItsEnd "$window" wine-after-scan.png
echo "scan of the proposed range under Wine, to its warning: $((SECONDS - begin)) s"
QuitWine
Same "$work/linux" "$work/windows" "after the scan"
grep -q '^198\.18\.0\.10|' "$work/windows/ArpList.ini" || Fail "the scan found no host"
for f in ArpList.ini BindArp.bat BindDhcp.bat; do cp "$work/windows/$f" "$artifacts/wine-$f"; done
Planted
echo "window under Wine: the scan's three files are byte-identical to the Linux program's"

# The console program's scan mode, from the same starting list: the same three files, each host
# on stdout.
cli=$(dirname "$exe")/quorvel-cli.exe
[ -f "$cli" ] || Fail "no quorvel-cli.exe in $zip"
status=0
(cd "$work/cli" && Wine "$cli" --scan >"$work/cli.out" 2>"$work/cli.err") || status=$?
[ "$status" = 0 ] || { cat "$work/cli.err"; Fail "quorvel-cli.exe --scan exited with status $status"; }
Same "$work/linux" "$work/cli" "in the scan mode"
tr -d '\r' <"$work/cli.out" | grep -qx "198.18.0.10"$'\t'"02:51:00:00:00:01" ||
    Fail "the scan mode's stdout: $(cat -A "$work/cli.out")"
echo "scan mode under Wine: the three files are byte-identical to the Linux program's"

# Without the capture library: SendARP, which Wine does not support; the scan must say so.
overrides=";wpcap=d"
(cd "$work/sendarp" && Wine "$exe" >"$work/sendarp.log" 2>&1) &
app=$!
window=$(Find '^Quorvel$' 60)
[ -n "$window" ] || { cat "$work/sendarp.log"; Fail "no window without wpcap.dll"; }
SaveThroughMenu "$window" "$work/sendarp"
cp "$work/sendarp/ArpList.ini" "$work/sendarp.before"
ScanToItsEnd "$window" wine-sendarp-warning.png
QuitWine
cmp -s "$work/sendarp/ArpList.ini" "$work/sendarp.before" || Fail "the list changed without probing"
Planted
status=0
(cd "$work/sendarp" && Wine "$cli" --scan 198.18.0.10-198.18.0.12 >/dev/null \
    2>"$work/cli-sendarp.err") || status=$?
[ "$status" = 3 ] || { cat "$work/cli-sendarp.err"; Fail "the scan mode without wpcap.dll: status $status, not 3"; }
echo "window under Wine without wpcap.dll: the scan went through SendARP and said it could not ask"
