#!/usr/bin/env bash
# Prints the folder of the Qt for MinGW (Qt 6.4.2 cross-built for 64-bit Windows), unpacking
# it into build/windows/qt6-mingw when it comes as an archive, and adding QtNetwork to it when
# it lacks that module (qt-network.sh); prints nothing, and exits 0, when there is none.
#   tools/windows/qt.sh
# It comes from QUORVEL_WIN_QT when set (the archive, or a folder where it is unpacked), or
# else from ../shared/qt-mingw/qt6-mingw-6.4.2.tar.xz beside the project folder.
set -euo pipefail
cd "$(dirname "$0")/../.."
from=${QUORVEL_WIN_QT:-../shared/qt-mingw/qt6-mingw-6.4.2.tar.xz}
out=$PWD/build/windows

if [ -f "$from/lib/cmake/Qt6/qt.toolchain.cmake" ]; then
    tools/windows/qt-network.sh "$from"
    (cd "$from" && pwd)
elif [ -f "$from" ]; then
    # Unpacked once per archive: the stamp names the archive, its size and time.
    stamp="$(realpath "$from") $(stat -c '%s %Y' "$from")"
    if [ "$(cat "$out/qt6-mingw.stamp" 2>/dev/null)" != "$stamp" ] ||
        [ ! -f "$out/qt6-mingw/lib/cmake/Qt6/qt.toolchain.cmake" ]; then
        rm -rf "$out/qt6-mingw" "$out/qt6-mingw.stamp"
        mkdir -p "$out"
        tar -xJf "$from" -C "$out"
        echo "$stamp" >"$out/qt6-mingw.stamp"
    fi
    tools/windows/qt-network.sh "$out/qt6-mingw"
    echo "$out/qt6-mingw"
fi
