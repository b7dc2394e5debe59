#!/usr/bin/env bash
# The program installed as a Linux desktop program.
#   install.sh tree BUILD ID VERSION   cmake --install into a DESTDIR staging folder: the tree holds
#                                      exactly the expected files, the desktop entry and metainfo
#                                      pass their validators and name one id and the version
#   install.sh deb BUILD ID VERSION    cpack -G DEB: lintian reports no error, the package lists
#                                      the same files, and the program taken out of it runs
#   install.sh dpkg BUILD ID VERSION   (root) dpkg -i into a throwaway root made of overlays over
#                                      /usr, /var and /etc in a mount namespace of its own: the
#                                      program holds cap_net_raw (where the file system cannot
#                                      keep it, the postinst says so and succeeds), and after
#                                      dpkg --purge nothing of the package is left; what the host
#                                      knows of the package is compared before and after
# Exit 77: skipped (a tool is missing, or no root, or no overlays here).
set -euo pipefail
PATH=$PATH:/usr/sbin:/sbin  # getcap and setcap
[ $# -ge 4 ] || { echo "usage: install.sh tree|deb|dpkg BUILD ID VERSION"; exit 2; }
mode=$1 build=$(realpath "$2") id=$3 version=$4
deb=$build/quorvel_${version}_$(dpkg --print-architecture 2>/dev/null || echo amd64).deb

Fail() { echo "FAIL: $*"; exit 1; }
Skip() { echo "SKIP: $*"; exit 77; }
Need() { for tool in "$@"; do command -v "$tool" >/dev/null || Skip "$tool is not installed"; done; }
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND exited with $?"' ERR

# Every file the installation holds, below the prefix.
Expected() {
    echo bin/quorvel
    echo "share/applications/$id.desktop"
    echo "share/metainfo/$id.metainfo.xml"
    for size in 16 22 24 32 48 64 128 256; do
        echo "share/icons/hicolor/${size}x$size/apps/$id.png"
    done
    echo "share/icons/hicolor/scalable/apps/$id.svg"
    echo share/man/man1/quorvel.1.gz
    echo share/doc/quorvel/changelog.gz
    echo share/doc/quorvel/copyright
}
SameFiles() {  # what, list of files found
    diff <(Expected | sort) <(sort <<<"$2") >&2 || Fail "$1 holds other files than expected (diff above)"
}
Field() {  # key, desktop file
    sed -n "s/^$1=//p" "$2"
}

# The program at PROGRAM: --version, --help, an unknown option without any display, and a start
# offscreen that only the timeout ends.
CheckProgram() {
    local program=$1 out rc=0
    out=$("$program" --version) || Fail "--version exited with $?"
    [ "${out%%$'\n'*}" = "quorvel $version" ] || Fail "--version printed '$out'"
    case ${out#*$'\n'} in "IEEE registry: "*) ;; *) Fail "--version names no registry: '$out'" ;; esac
    out=$("$program" --help) || Fail "--help exited with $?"
    grep -q '^Usage: quorvel \[options\]' <<<"$out" || Fail "--help printed '$out'"
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$program" --no-such-option 2>&1) ||
        rc=$?
    [ "$rc" -eq 2 ] || Fail "an unknown option exited with $rc: $out"
    grep -q "Unknown option 'no-such-option'" <<<"$out" || Fail "an unknown option printed '$out'"
    rc=0
    (cd "$work" && QT_QPA_PLATFORM=offscreen timeout 5 "$program" -platform offscreen) || rc=$?
    [ "$rc" -eq 124 ] || Fail "the program started offscreen ended by itself with $rc"
    echo "ok: $program answers --version, --help, a wrong option, and runs offscreen"
}

# The window on an X display: its class is the entry's StartupWMClass, by which the desktop
# groups it under the entry, and it carries the icon.
CheckWindow() {
    local program=$1 class=$2 props
    # shellcheck disable=SC2016  # the inner script expands its own arguments
    props=$(cd "$work" && xvfb-run -a -s "-screen 0 640x480x24" bash -c '
        QT_QPA_PLATFORM=xcb "$1" & pid=$!
        wid=$(timeout 20 xdotool search --sync --name "^Quorvel\$" | head -n 1)
        [ -n "$wid" ] && xprop -id "$wid" WM_CLASS _NET_WM_ICON | head -n 2
        rc=$?; kill $pid; wait $pid; exit $rc' _ "$program" 2>/dev/null) || true
    grep -qxF "WM_CLASS(STRING) = \"$class\", \"$class\"" <<<"$props" ||
        Fail "the window's class is not '$class': $props"
    grep -q '^_NET_WM_ICON(CARDINAL) = .*Icon' <<<"$props" || Fail "the window has no icon: $props"
    echo "ok: the window's class is '$class', and it has an icon"
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

case $mode in
tree)
    Need desktop-file-validate appstreamcli
    stage=$work/stage
    DESTDIR=$stage cmake --install "$build" --prefix /opt/quorvel >/dev/null
    SameFiles "the staging folder" "$(cd "$stage/opt/quorvel" && find . -type f -printf '%P\n')"
    [ -x "$stage/opt/quorvel/bin/quorvel" ] || Fail "bin/quorvel is not executable"
    desktop=$stage/opt/quorvel/share/applications/$id.desktop
    metainfo=$stage/opt/quorvel/share/metainfo/$id.metainfo.xml
    desktop-file-validate "$desktop" || Fail "desktop-file-validate refused the desktop entry"
    appstreamcli validate --no-net "$metainfo" || Fail "appstreamcli refused the metainfo"
    [ "$(Field Icon "$desktop")" = "$id" ] || Fail "the entry's icon is not $id"
    [ "$(Field Exec "$desktop")" = quorvel ] || Fail "the entry does not start quorvel"
    grep -q "<id>$id</id>" "$metainfo" || Fail "the metainfo's id is not $id"
    grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
        Fail "the metainfo does not launch $id.desktop"
    grep -q "<release version=\"$version\"" "$metainfo" || Fail "the metainfo has no release $version"
    zcat "$stage/opt/quorvel/share/doc/quorvel/changelog.gz" | head -n 1 | grep -qF "($version)" ||
        Fail "the changelog's last entry is not $version"
    zcat "$stage/opt/quorvel/share/man/man1/quorvel.1.gz" | grep -q "^\.TH .*Quorvel $version" ||
        Fail "the manual page is not of $version"
    echo "ok: the staging folder holds the expected files, both validators pass"
    ;;
deb)
    Need cpack lintian dpkg-deb xvfb-run xdotool xprop
    rm -f "$deb"
    (cd "$build" && cpack -G DEB) >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; Fail "cpack"; }
    [ -f "$deb" ] || Fail "cpack made no $deb"
    lintian --tag-display-limit 0 "$deb" 2>&1 | tee "$work/lintian"
    ! grep -q '^E:' "$work/lintian" || Fail "lintian reports errors"
    dpkg-deb -c "$deb"
    SameFiles "the package" "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\/usr\//, "", $6); print $6 }')"
    dpkg-deb -f "$deb" Depends | grep -q 'libcap2-bin' || Fail "the package does not depend on libcap2-bin"
    dpkg-deb -e "$deb" "$work/control"
    grep -q 'setcap cap_net_raw+ep' "$work/control/postinst" || Fail "the postinst grants nothing"
    dpkg-deb -x "$deb" "$work/root"
    file "$work/root/usr/bin/quorvel" | grep -q ', stripped' || Fail "the program is not stripped"
    CheckProgram "$work/root/usr/bin/quorvel"
    CheckWindow "$work/root/usr/bin/quorvel" \
        "$(Field StartupWMClass "$work/root/usr/share/applications/$id.desktop")"
    ;;
dpkg)
    [ "$(id -u)" -eq 0 ] || Skip "installing the package into a throwaway root needs root"
    Need unshare dpkg getcap
    unshare --mount true 2>/dev/null || Skip "no mount namespace can be made here"
    [ -f "$deb" ] || Fail "no $deb: the deb test makes it"
    HostState() { dpkg-query -s quorvel 2>&1; ls -l /usr/bin/quorvel /var/lib/dpkg/info/quorvel.* 2>&1; }
    host=$(HostState || true)
    rc=0
    unshare --mount --propagation private "$0" dpkg-inside "$build" "$id" "$version" "$work" ||
        rc=$?
    [ "$(HostState || true)" = "$host" ] || Fail "the host's package database or /usr changed"
    exit $rc
    ;;
dpkg-inside)
    # In a mount namespace of our own: what dpkg writes lands in tmpfs and goes with it.
    root=$5
    mount -t tmpfs quorvel-root "$root"
    for dir in /usr /var /etc; do
        mkdir -p "$root/upper$dir" "$root/work$dir"
        mount -t overlay quorvel-root \
            -o "lowerdir=$dir,upperdir=$root/upper$dir,workdir=$root/work$dir" "$dir" ||
            Skip "no overlay file system here for a throwaway root"
    done
    dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; Fail "dpkg -i"; }
    cat "$work/dpkg.log"
    caps=$(getcap /usr/bin/quorvel)
    echo "getcap: $caps"
    grep -Eq 'cap_net_raw[=+]ep' <<<"$caps" || Fail "the installed program holds no cap_net_raw+ep"
    CheckProgram /usr/bin/quorvel
    # On a file system without extended attributes (ramfs) the postinst says so and succeeds.
    mkdir "$root/ramfs"
    mount -t ramfs quorvel-root "$root/ramfs"
    cp /usr/bin/quorvel "$root/ramfs/"
    mount --bind "$root/ramfs/quorvel" /usr/bin/quorvel
    out=$(/var/lib/dpkg/info/quorvel.postinst configure 2>&1) ||
        Fail "the postinst failed where no capability can be kept: $out"
    grep -q 'could not grant cap_net_raw' <<<"$out" || Fail "the postinst printed '$out'"
    echo "ok: without extended attributes the postinst says: $out"
    umount /usr/bin/quorvel
    dpkg --purge quorvel
    left=$(Expected | while read -r f; do [ ! -e "/usr/$f" ] || echo "/usr/$f"; done)
    [ -z "$left" ] || Fail "left after purge: $left"
    [ ! -d /usr/share/doc/quorvel ] || Fail "left after purge: /usr/share/doc/quorvel"
    ! ls /var/lib/dpkg/info/quorvel.* 2>/dev/null || Fail "dpkg still knows the package's files"
    ! dpkg-query -W quorvel 2>/dev/null || Fail "dpkg still lists the package"
    echo "ok: installed with cap_net_raw+ep, purged without leftovers"
    ;;
*)
    Fail "unknown mode $mode"
    ;;
esac
