#!/usr/bin/env bash
# The installer as a deployment tool runs it: silently (/S) into a fresh Wine prefix. Then the
# installed quorvel-cli.exe scans a namespace LAN (198.18.0.0/24) from the same list as the Linux
# program, each keeping its files in a folder named in Chinese given by --folder, and the three
# files must be byte-identical; the uninstaller (/S) must then leave no file and no registry key
# of the installation behind. Names outside ASCII need a UTF-8 locale for Wine's file names.
#
#   installer-wine.sh SETUP_EXE LINUX_QUORVEL LAN_SH VERSION
set -euo pipefail
[ $# -eq 4 ] || { echo "usage: installer-wine.sh SETUP_EXE LINUX_QUORVEL LAN_SH VERSION"; exit 2; }
setup=$(realpath "$1") linux=$(realpath "$2") lan=$(realpath "$3") version=$4

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: the installed program scans a network namespace, which needs root"
    exit 77
fi
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine || true)
[ -n "$wine" ] && [ -x "$wine" ] || { echo "SKIP: wine64 is not installed"; exit 77; }
wineserver=$(dirname "$wine")/wineserver

prefix=qinst$$
ns=$prefix-s
display=""
work=$(mktemp -d)
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all LC_ALL=C.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
Cleanup() {
    [ -d "$WINEPREFIX" ] && "$wineserver" -k 2>/dev/null || true
    bash "$lan" down "$prefix" || true
    rm -rf "$work"
}
trap Cleanup EXIT
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
Wine() { env -u WINEPATH -u QT_PLUGIN_PATH -u QT_QPA_PLATFORM "$wine" "$@"; }
Settled() { "$wineserver" -w; }  # every process of the prefix has ended, the registry is on disk
# What the installation may touch: the files outside the temporary folders, the registry's keys.
Snapshot() {
    (cd "$WINEPREFIX/drive_c" && find . -path '*/Temp' -prune -o -print | sort) >"$work/$1.files"
    grep -ih 'quorvel' "$WINEPREFIX"/*.reg >"$work/$1.reg" || true
}

begin=$SECONDS
Wine wineboot --init >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log"; Fail "wineboot"; }
Settled
Snapshot before
[ ! -s "$work/before.reg" ] || Fail "a fresh prefix already names Quorvel"

Wine "$setup" /S || Fail "the installer exited with status $?"
Settled
installed="$WINEPREFIX/drive_c/Program Files/Quorvel"
for f in quorvel.exe quorvel-cli.exe uninstall.exe Qt6Core.dll platforms/qwindows.dll; do
    [ -f "$installed/$f" ] || Fail "no $f in Program Files\\Quorvel"
done
[ -f "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Quorvel.lnk" ] ||
    Fail "no Start menu shortcut"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvel'
for value in "DisplayVersion.*$version" "Publisher.*Quorvel" "DisplayIcon.*quorvel.exe" \
    "QuietUninstallString.*/S"; do
    Wine reg query "$key" 2>/dev/null | tr -d '\r' | grep -q "$value" ||
        Fail "the uninstall entry lacks $value: $(Wine reg query "$key" 2>&1)"
done
echo "installed silently in $((SECONDS - begin)) s (with the prefix)"

# The scan: the Linux program and the installed console program, each in its own Chinese-named
# folder holding the same hand-edited list.
bash "$lan" up "$prefix" 3 --shared-ip >/dev/null
folder=扫描结果
for d in linux windows; do
    mkdir -p "$work/$d/$folder"
    printf '%s\r\n' "; our office" " 198.18.0.91 | 02:51:00:00:00:99" "198.18.0.250|02-51-00-00-aa-bb" \
        >"$work/$d/$folder/ArpList.ini"
done
status=0
(cd "$work/linux" && ip netns exec "$ns" "$linux" --scan --folder "$folder" 198.18.0.1-198.18.0.30 \
    >"$work/linux.out" 2>"$work/linux.err") || status=$?
[ "$status" = 0 ] || { cat "$work/linux.err"; Fail "the Linux scan exited with status $status"; }
status=0
(cd "$work/windows" && ip netns exec "$ns" env WINEPREFIX="$WINEPREFIX" "$wine" \
    "C:\\Program Files\\Quorvel\\quorvel-cli.exe" --scan --folder "$folder" 198.18.0.1-198.18.0.30 \
    >"$work/windows.out" 2>"$work/windows.err") || status=$?
[ "$status" = 0 ] || { cat "$work/windows.err"; Fail "the installed program's scan exited with status $status"; }
Settled
grep -q '^198\.18\.0\.10|' "$work/windows/$folder/ArpList.ini" || Fail "the installed program found no host"
for f in ArpList.ini BindArp.bat BindDhcp.bat; do
    cmp "$work/linux/$folder/$f" "$work/windows/$folder/$f" ||
        Fail "$f differs between the Linux and the installed Windows program"
done
echo "installed program: the scan's three files in $folder are byte-identical to the Linux program's"

Wine "C:\\Program Files\\Quorvel\\uninstall.exe" /S || Fail "the uninstaller exited with status $?"
Settled
Snapshot after
diff "$work/before.files" "$work/after.files" || Fail "the uninstaller left files (above)"
[ ! -s "$work/after.reg" ] || Fail "the uninstaller left registry entries: $(cat "$work/after.reg")"
echo "uninstalled silently: no file and no registry key of the installation left"
echo "installer run under Wine: $((SECONDS - begin)) s"
