#!/usr/bin/env bash
# Provides Qt 6 for 64-bit Windows (mingw-w64), built from Debian's own qt6-base source package,
# the same version as the host's moc, rcc and uic. Only what the program and its tests use is
# built: Core, Gui, Widgets, Test, the windows, offscreen and minimal platform plugins and the
# styles. The result goes to a cache folder named after the Qt version and the options; it is
# written under a temporary name and renamed when complete, so a failed or interrupted build
# never leaves a folder that looks complete, and a complete one is reused.
# Prints the folder on its last line; also points <cache>/qt6-mingw64 at it for the toolchain file.
set -euo pipefail

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
if [ "$(id -u)" -eq 0 ]; then
    cache=${QUORVEL_CACHE:-/var/cache/quorvel}
else
    cache=${QUORVEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quorvel}
fi
mkdir -p "$cache"
apt=(apt-get -o DPkg::Lock::Timeout=900)
say() { echo "qt-mingw: $*" >&2; }

version=$(dpkg-query -W -f='${Version}' qt6-base-dev) # e.g. 6.4.2+dfsg-10
upstream=${version%%+*}
upstream=${upstream%%-*}
mingw=x86_64-w64-mingw32

# Options of the build; their hash names the folder, so a change of options builds anew.
options=(
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
    -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_xml=OFF
    -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_vulkan=OFF
    # Debian's source has no Wintab header.
    -DFEATURE_tabletevent=OFF
    # The windows platform plugin needs OpenGL (dynamic, its Windows default) to compile.
    -DINPUT_opengl=dynamic
    # Direct2D stays on: without it Gui leaves out the DirectWrite font database that the
    # windows platform plugin links to.
    -DFEATURE_jpeg=OFF
)
targets=(Core Gui Widgets Test EntryPointImplementation QWindowsIntegrationPlugin
         QOffscreenIntegrationPlugin QMinimalIntegrationPlugin QWindowsVistaStylePlugin)
toolchain="set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER $mingw-gcc-posix)
set(CMAKE_CXX_COMPILER $mingw-g++-posix)
set(CMAKE_RC_COMPILER $mingw-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$mingw)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)"
compiler=$($mingw-g++-posix --version | head -n1)
hash=$(printf '%s\n' "$version" "$compiler" "${options[@]}" "${targets[@]}" "$toolchain" |
    sha256sum | cut -c1-12)
final=$cache/qt6-$upstream-mingw64-$hash
link=$cache/qt6-mingw64

if [ -d "$final" ]; then
    say "reusing $final"
    ln -sfn "$(basename "$final")" "$link"
    echo "$final"
    exit 0
fi

FetchAndConfigure() {
    # apt-get source needs a deb-src entry; add one for the machine's own Debian sources, in a file
    # of its own, when there is none.
    if ! grep -rqsE '^(deb-src |Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
        src=/etc/apt/sources.list.d/quorvel-deb-src
        if [ -f /etc/apt/sources.list.d/debian.sources ]; then
            sed -E 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
                $sudo tee "$src.sources" >/dev/null
        else
            grep -hE '^deb ' /etc/apt/sources.list 2>/dev/null | sed 's/^deb /deb-src /' |
                $sudo tee "$src.list" >/dev/null
        fi
        say "added a deb-src entry ($src.*)"
        $sudo "${apt[@]}" update -qq
    fi

    say "fetching qt6-base $version source"
    (cd "$work" && "${apt[@]}" source -qq "qt6-base=$version" >/dev/null)
    source_dir=$(find "$work" -maxdepth 1 -mindepth 1 -type d -name 'qt6-base*' | head -n1)
    [ -n "$source_dir" ] || { say "no source folder after apt-get source"; exit 1; }
    printf '%s\n' "$toolchain" >"$work/toolchain.cmake"

    say "configuring ($((SECONDS - begin)) s)"
    cmake -S "$source_dir" -B "$work/build" -G Ninja -Wno-dev \
        -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" -DCMAKE_INSTALL_PREFIX="$final" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        "${options[@]}" >"$work/configure.log" 2>&1 ||
        { tail -n 40 "$work/configure.log" >&2; say "configure failed: $work/configure.log"; exit 1; }
}

begin=$SECONDS
work=$cache/work-$hash
rm -rf "$final.partial"
if [ -f "$work/build/build.ninja" ]; then
    say "resuming the interrupted build in $work"
else
    rm -rf "$work"
    mkdir -p "$work"
    FetchAndConfigure
fi

known=$(ninja -C "$work/build" -t targets all | cut -d: -f1)
for t in "${targets[@]}"; do
    grep -qx "$t" <<<"$known" || { say "no target $t in the Qt build"; exit 1; }
done
say "building ${targets[*]} ($((SECONDS - begin)) s; 15-20 min on 2 cores)"
jobs=$(nproc)
ninja -C "$work/build" -j "$jobs" "${targets[@]}" >"$work/build.log" 2>&1 &
builder=$!
shown=$SECONDS
while kill -0 "$builder" 2>/dev/null; do
    sleep 2
    [ $((SECONDS - shown)) -ge 60 ] || continue
    shown=$SECONDS
    say "$(grep -oE '^\[[0-9]+/[0-9]+\]' "$work/build.log" | tail -n1) $((SECONDS - begin)) s"
done
wait "$builder" || { tail -n 40 "$work/build.log" >&2; say "build failed: $work/build.log"; exit 1; }

# Everything configured but not built (other plugins, tools) is left out of the install: each
# folder's install script is run on its own, and only for what was built.
say "installing ($((SECONDS - begin)) s)"
install_dir() { # folder [local]
    local args=(-DCMAKE_INSTALL_PREFIX="$final.partial")
    [ "${2:-}" = local ] && args+=(-DCMAKE_INSTALL_LOCAL_ONLY=1)
    cmake "${args[@]}" -P "$work/build/$1/cmake_install.cmake" >>"$work/install.log"
}
install_dir . local
install_dir src local
# OpenGL modules only if the plugins pulled them in.
opengl=()
[ -f "$work/build/bin/Qt6OpenGL.dll" ] && opengl+=(src/opengl)
for d in src/3rdparty src/corelib src/entrypoint src/gui src/widgets src/testlib "${opengl[@]}" \
    src/plugins/platforms/windows src/plugins/platforms/offscreen src/plugins/platforms/minimal \
    src/plugins/styles; do
    if [ -f "$work/build/$d/cmake_install.cmake" ]; then install_dir "$d" local; fi
done
for d in src/plugins src/plugins/platforms; do install_dir "$d" local; done
# Core's zlib headers; the other bundled libraries are linked into Qt's DLLs.
for d in src/3rdparty/zlib src/plugins/styles/windowsvista; do
    if [ -f "$work/build/$d/cmake_install.cmake" ]; then install_dir "$d"; fi
done
# Platform plugins are not needed to configure the program, but its tests and its zip need them.
for f in platforms/qwindows.dll platforms/qoffscreen.dll platforms/qminimal.dll \
    styles/qwindowsvistastyle.dll; do
    [ -f "$final.partial/plugins/$f" ] || { say "missing plugins/$f after install"; exit 1; }
done
mv "$final.partial" "$final"
ln -sfn "$(basename "$final")" "$link"
rm -rf "$work"
say "Qt $upstream for mingw-w64 ready in $((SECONDS - begin)) s: $final"
echo "$final"
