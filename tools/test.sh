#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test; then prints the benchmarks' figures.
# Then, when the Qt for MinGW is there, cross-builds for Windows and runs those tests and the
# installer under wine (tools/windows/test.sh). Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh --test

jobs=$(nproc)
echo "== Build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --parallel "$jobs"

echo "== Tests"
ctest --test-dir build --output-on-failure --label-exclude benchmark --parallel "$jobs"

echo "== Benchmarks (figures only; they do not fail on a slow machine)"
ctest --test-dir build --label-regex benchmark --verbose

echo "== The Debian packages: built, checked by lintian; installed, run and removed in a Debian 12 container"
tools/package.sh
tests/package/installtest.sh build

echo "== Tests under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan)"
# -O1: a sanitized build that is still quick to run; any report fails its test.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
    -DQUORVEL_SANITIZE=ON
cmake --build build-asan --parallel "$jobs"
ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1 \
    LSAN_OPTIONS=suppressions="$PWD/tests/sanitizer/lsan.supp":print_suppressions=0 \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure --label-exclude benchmark --parallel "$jobs"

echo "== Static checks (clang-tidy, cppcheck)"
tools/static-checks.sh build

echo "== Fuzzing the reception core (60 s)"
tools/fuzz.sh 60

# The Windows build: cross-built with MinGW-w64, its tests and installer run under wine.
if [ -n "$(tools/windows/qt.sh)" ]; then
    tools/windows/test.sh
else
    echo "== Windows: skipped, no Qt for MinGW (../shared/qt-mingw/ or QUORVEL_WIN_QT)"
fi
