#!/usr/bin/env bash
# Adds QtNetwork to an unpacked Qt for MinGW that lacks it, and prints nothing.
#   tools/windows/qt-network.sh QT_FOLDER
# The Windows service shares its device with the window over QLocalServer (a named pipe on
# Windows), which is QtNetwork; the Qt for MinGW archive was built without network. This builds
# that one module from the same source, Debian 12's qt6-base 6.4.2, configured as the archive
# was but with network on, and installs it into QT_FOLDER. QtCore is built along with it only
# because QtNetwork's build needs it; the archive's own QtCore is kept.
# The source comes from Debian's archive (apt-get source); the build takes about 6 minutes on
# 2 cores, once: build/windows/qtnetwork keeps it.
set -euo pipefail
qt=$(cd "$1" && pwd)
if [ -f "$qt/lib/cmake/Qt6Network/Qt6NetworkConfig.cmake" ]; then
    exit 0
fi
cd "$(dirname "$0")/../.."
here=$PWD/tools/windows
work=$PWD/build/windows/qtnetwork
version=6.4.2+dfsg-10
src=$work/qt6-base-6.4.2+dfsg
mkdir -p "$work"

if [ ! -f "$src/CMakeLists.txt" ]; then
    echo "QtNetwork for MinGW: Debian's qt6-base $version source" >&2
    # deb-src for bookworm in a list of this build's own, so that the machine's sources stay as
    # they are.
    mkdir -p "$work/apt/lists/partial"
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main" \
        >"$work/apt/sources.list"
    apt=(-o Dir::Etc::SourceList="$work/apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
        -o Dir::State::Lists="$work/apt/lists" -o APT::Sandbox::User=root)
    apt-get "${apt[@]}" -qq update >&2
    (cd "$work" && apt-get "${apt[@]}" -qq source --download-only "qt6-base=$version" >&2)
    # dpkg-source applies Debian's patches, as in the archive.
    rm -rf "$src"
    (cd "$work" && dpkg-source -x --no-check "qt6-base_$version.dsc" >/dev/null)
fi

echo "QtNetwork for MinGW: build (about 6 minutes, once)" >&2
cmake -G Ninja -S "$src" -B "$work/build" \
    -DCMAKE_TOOLCHAIN_FILE="$here/mingw-w64-x86_64.cmake" \
    -DCMAKE_CROSSCOMPILING_EMULATOR= \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$qt" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DINPUT_opengl=no -DFEATURE_dbus=OFF -DFEATURE_sql=OFF -DFEATURE_network=ON \
    -DFEATURE_ssl=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_printsupport=OFF \
    -DFEATURE_vulkan=OFF -DFEATURE_tabletevent=OFF -DFEATURE_zstd=OFF -DFEATURE_icu=OFF \
    -DFEATURE_direct2d=OFF -DFEATURE_directwrite3=OFF -DFEATURE_freetype=ON \
    -DFEATURE_system_freetype=OFF -DFEATURE_fontconfig=OFF -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF \
    -DFEATURE_pkg_config=OFF -DFEATURE_androiddeployqt=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF \
    -DFEATURE_system_png=OFF -DFEATURE_system_doubleconversion=OFF >"$work/configure.log"
nice -n 10 ninja -C "$work/build" -j"$(nproc)" Network >"$work/build.log"
# Only the network folder's install rules: the DLL, its import library, headers and CMake package.
cmake -DCMAKE_INSTALL_PREFIX="$qt" -P "$work/build/src/network/cmake_install.cmake" >/dev/null
test -f "$qt/lib/cmake/Qt6Network/Qt6NetworkConfig.cmake"
