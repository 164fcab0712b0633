#!/usr/bin/env bash
# Runs clang-tidy (checks in .clang-tidy) and cppcheck over Quorvel's own code: every source
# file that the build compiles, taken from the build folder's compile_commands.json, except
# tests, generated files and anything inside a build folder. Exits non-zero on any finding.
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
header_filter="^$root/(core|serial|clock|ui|tools)/"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
tidy_status=0
printf '%s\n' "${sources[@]}" |
    xargs -P "$(nproc)" -n 1 clang-tidy -p "$build" --quiet --header-filter="$header_filter" \
        >"$log" 2>&1 || tidy_status=1
# Drop the counts of the warnings it suppressed in Qt's headers.
grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' "$log" || true
[ "$tidy_status" -eq 0 ] || { echo "clang-tidy found problems." >&2; exit 1; }

echo "-- cppcheck"
# Qt's own headers are left out (too slow and not ours); --library=qt tells cppcheck what
# Qt's macros mean. Include folders are the folders of the sources.
mapfile -t includes < <(printf '%s\n' "${sources[@]}" | xargs -n 1 dirname | sort -u | sed 's/^/-I/')
cppcheck --quiet --error-exitcode=1 --std=c++17 --language=c++ --library=qt \
    --enable=warning,style,performance,portability --inline-suppr \
    --suppress=missingIncludeSystem --suppress=unusedFunction \
    -j "$(nproc)" "${includes[@]}" "${sources[@]}"

echo "Static checks found nothing."
