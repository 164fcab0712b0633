#!/usr/bin/env bash
# Prints the version of the Windows version record, which the installer carries too, as the
# build folder's core/version.h has it (the top CMakeLists.txt defines it).
#   tools/windows/version.sh BUILD
set -euo pipefail
sed -n 's/^inline constexpr char RecordedVersion\[\] = "\(.*\)";$/\1/p' "$1/core/version.h" | grep .
