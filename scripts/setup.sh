#!/usr/bin/env bash
# Installs what is missing (Debian/Ubuntu), configures and builds into build/.
# Usage: scripts/setup.sh run|test|windows (windows: the packages of the Windows cross-build and
# Qt 6 for mingw-w64, built once from Debian's qt6-base source; see scripts/test-windows.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-run}

packages=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
          fonts-wqy-zenhei iproute2 ieee-data)
if [ "$mode" = test ]; then
    # clang and its runtime libraries build the libFuzzer targets (scripts/test-hardening.sh),
    # clang-tidy checks the sources (scripts/clang-tidy.sh); the window tests run on Xvfb under
    # openbox (tests/ui/under-wm.sh).
    packages+=(libgtest-dev libgmock-dev xvfb xauth libcap2-bin xdotool xclip imagemagick libx11-dev
               clang libclang-rt-14-dev clang-tidy openbox)
    # clang-tidy reads the Windows sources through a mingw-w64 cross build's compile commands.
    packages+=(g++-mingw-w64-x86-64-posix)
    # The installed program and its Debian package (tests/install).
    packages+=(desktop-file-utils appstream lintian dpkg-dev file x11-utils)
    # The scan mode's JSON Lines are read back with jq (tests/e2e/scan-json.sh).
    packages+=(jq)
fi
if [ "$mode" = windows ]; then
    # The host's Qt provides moc, rcc and uic to the Qt cross-build; dpkg-dev unpacks its source.
    # Xvfb, xdotool and ImageMagick drive and photograph the real window under Wine; Wine's
    # wpcap.dll captures and sends frames through libpcap, and the Linux program's late_host
    # (bench/) answers late on the Windows probe's LAN; ieee-data's CSVs make the zip's vendor file.
    packages=(cmake ninja-build g++-mingw-w64-x86-64-posix wine64 libpcap0.8 googletest
              qt6-base-dev qt6-base-dev-tools dpkg-dev xz-utils xvfb xauth xdotool imagemagick
              fonts-wqy-zenhei unzip g++ libgl-dev qt6-qpa-plugins ieee-data)
    # makensis builds the installer (cmake/PackageInstaller.cmake).
    packages+=(nsis)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    echo "Installing: ${missing[*]}"
    $sudo apt-get -o DPkg::Lock::Timeout=900 update -qq
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends \
        "${missing[@]}"
fi

if [ "$mode" = windows ]; then
    scripts/build-qt-mingw.sh
    exit 0
fi

tests=OFF
[ "$mode" = test ] && tests=ON
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_WERROR=ON \
    -DQUORVEL_BUILD_TESTS=$tests
cmake --build build
