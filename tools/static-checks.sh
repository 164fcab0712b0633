#!/usr/bin/env bash
# Runs clang-tidy (checks in .clang-tidy) and cppcheck over Quorvel's own code: every source
# file that the build compiles, taken from the build folder's compile_commands.json, except
# tests, generated files and anything inside a build folder; checks that every C and C++ file
# is formatted as .clang-format says; then checks that the Windows-only sources compile, with
# the MinGW-w64 cross compiler; and that no include goes up the layers of the README's layout
# table. Exits non-zero on any finding.
# Usage: tools/static-checks.sh [build folder, default build]
# The build folder must have been configured (cmake writes compile_commands.json) and built
# (so that generated headers exist).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-build}

if [ ! -f "$build/compile_commands.json" ]; then
    echo "No $build/compile_commands.json: configure and build $build first." >&2
    exit 1
fi

# The sources: one "file" entry per compiled file, as cmake writes them.
mapfile -t sources < <(
    sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$build/compile_commands.json" |
        grep "^$root/" | grep -v -E "^$root/(build[^/]*|tests)/|_autogen/" | sort -u
)
if [ ${#sources[@]} -eq 0 ]; then
    echo "No project sources in $build/compile_commands.json." >&2
    exit 1
fi
echo "Checking ${#sources[@]} source files."

echo "-- clang-tidy"
# Our headers are checked through the sources that include them; generated headers and
# those of Qt and the system are not.
header_filter="^$root/(core|serial|samplepipe|share|frametime|clock|ui|refclock|tools)/"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
tidy_status=0
printf '%s\n' "${sources[@]}" |
    xargs -P "$(nproc)" -n 1 clang-tidy -p "$build" --quiet --header-filter="$header_filter" \
        >"$log" 2>&1 || tidy_status=1
# Drop the counts of the warnings it suppressed in Qt's headers.
grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' "$log" || true
[ "$tidy_status" -eq 0 ] || { echo "clang-tidy found problems." >&2; exit 1; }

echo "-- clang-format"
# Every C and C++ file of the project, tests and tools included, must be as .clang-format
# lays it out; generated files live in build folders, which git does not track.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t formatted < <(git ls-files '*.cpp' '*.h' '*.c')
else
    mapfile -t formatted < <(find core serial frametime clock ui refclock tools tests main.cpp \
        -name '*.cpp' -o -name '*.h' -o -name '*.c' | sort)
fi
clang-format --dry-run -Werror "${formatted[@]}"

echo "-- cppcheck"
# Qt's own headers are left out (too slow and not ours); --library=qt tells cppcheck what
# Qt's macros mean. The include root is the project's folder, and the build folder for
# generated headers.
includes=(-I"$root" -I"$root/$build")
cppcheck --quiet --error-exitcode=1 --std=c++17 --language=c++ --library=qt \
    --enable=warning,style,performance,portability --inline-suppr \
    --suppress=missingIncludeSystem --suppress=unusedFunction \
    -j "$(nproc)" "${includes[@]}" "${sources[@]}"

echo "-- Windows sources (MinGW-w64 syntax check)"
# The Windows-only code (the Windows clock backend, the Q_OS_WIN branches, the Windows-only
# tests) is compiled nowhere in the Linux build. Check its syntax with the MinGW-w64 cross
# compiler and the flags the Windows build uses, against the headers of the Qt for MinGW when
# it is there (tools/windows/qt.sh), otherwise against Debian's Linux Qt headers: the same Qt
# version, whose system detection follows the compiler and so takes the Windows branches.
# Warnings in our code fail the check; Qt's and MinGW's headers are system headers.
mingw=x86_64-w64-mingw32-g++-posix
if ! command -v "$mingw" >/dev/null; then
    echo "$mingw is missing (package g++-mingw-w64-x86-64-posix)." >&2
    exit 1
fi
mapfile -t windows_sources < <(
    {
        grep -rl -E 'Q_OS_WIN|<windows\.h>|windowsclockbackend\.h"' \
            --include='*.cpp' core serial samplepipe share frametime clock ui refclock tools tests main.cpp
        # The Time service provider DLL: all of it is Win32. And the tests built for Windows
        # only: the pipe of the shared device, the chain under wine's service manager.
        printf '%s\n' timeprovider/*.cpp samplepipe/*.cpp tests/timeprovider/*.cpp tests/share/tst_pipeshare.cpp
    } | sort -u
)
qt_windows=$(tools/windows/qt.sh)
if [ -n "$qt_windows" ]; then
    qt_include=$qt_windows/include
    echo "Qt headers: the Qt for MinGW ($qt_windows)"
else
    qt_include=/usr/include/x86_64-linux-gnu/qt6
    echo "Qt headers: Debian's Linux Qt ($qt_include); no Qt for MinGW here"
fi
qt_flags=(-isystem "$qt_include")
for module in QtCore QtGui QtWidgets QtSerialPort QtNetwork QtTest; do
    qt_flags+=(-isystem "$qt_include/$module")
done
# Generated headers ("core/version.h") are in the build folder.
project_flags=(-I"$root" -I"$root/$build")
# Tests include what moc makes of them; its output matters to linking only, so empty files
# stand in for it.
moc_stand_ins=$(mktemp -d)
trap 'rm -f "$log"; rm -rf "$moc_stand_ins"' EXIT
for source in "${windows_sources[@]}"; do
    : >"$moc_stand_ins/$(basename "${source%.cpp}").moc"
done
project_flags+=(-I"$moc_stand_ins")
project_flags+=(-I"$root") # includes that name their folder from the project root
echo "${windows_sources[*]}"
printf '%s\n' "${windows_sources[@]}" |
    xargs -P "$(nproc)" -I{} "$mingw" -fsyntax-only -std=c++17 -Wall -Wextra -Wpedantic -Werror \
        -DUNICODE -D_UNICODE -DWIN32 -DWIN64 -D_WIN64 -DMINGW_HAS_SECURE_API=1 -DQT_NO_DEBUG \
        -DQT_CORE_LIB -DQT_GUI_LIB -DQT_WIDGETS_LIB -DQT_SERIALPORT_LIB -DQT_NETWORK_LIB -DQT_TESTLIB_LIB \
        -DQUORVEL_PROGRAM_NAME='"Quorvel2.exe"' "${project_flags[@]}" "${qt_flags[@]}" {} ||
    { echo "The Windows sources do not compile." >&2; exit 1; }

echo "-- Layers (the README's layout table)"
# Each row of the table names a folder (or file) and the folders it may include from; a
# project include names its folder ("core/frame.h"). A file belongs to the row of the longest
# folder that holds it, and may include from its own folder and those the row names.
mapfile -t layers < <(
    sed -n '/^## Layout/,/^## /p' README.md |
        awk -F'|' '/^\| `/ { gsub(/[` ]/, "", $2); gsub(/[` ]/, "", $4); print $2 " " $4 }'
)
[ ${#layers[@]} -gt 0 ] || { echo "No layout table in README.md." >&2; exit 1; }
layer_status=0
while IFS= read -r file; do
    row="" allowed=""
    for layer in "${layers[@]}"; do
        folder=${layer%% *}
        case "$file" in
        "$folder"*) [ ${#folder} -gt ${#row} ] && { row=$folder; allowed=${layer#* }; } ;;
        esac
    done
    [ -n "$row" ] || { echo "$file: in no row of the layout table" >&2; layer_status=1; continue; }
    [ "$allowed" = "everything" ] && continue
    while IFS= read -r included; do
        ok=no
        for from in "$row" ${allowed//,/ }; do
            case "$included" in "$from"*) ok=yes ;; esac
        done
        [ "$ok" = yes ] || { echo "$file includes $included, above it" >&2; layer_status=1; }
    done < <(sed -n 's/^ *# *include "\([^"]*\/[^"]*\)".*/\1/p' "$file")
done < <(git ls-files '*.cpp' '*.h' '*.c')
[ "$layer_status" -eq 0 ] || { echo "An include goes up the layers." >&2; exit 1; }

echo "Static checks found nothing."
