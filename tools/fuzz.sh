#!/usr/bin/env bash
# Fuzzes the reception core with libFuzzer for the given number of seconds (default 60),
# starting from the committed seed corpus. Builds in build-fuzz with clang, AddressSanitizer
# and UndefinedBehaviorSanitizer. Exits non-zero on any finding; the input that broke an
# invariant is kept in build-fuzz/findings/ and reproduces with
#   build-fuzz/tests/fuzz/fuzz_framereceiver build-fuzz/findings/<file>
# The source tree is never written: new corpus entries go to a temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ \
    -DQUORVEL_FUZZ=ON -DQUORVEL_SANITIZE=ON >/dev/null
cmake --build build-fuzz --target fuzz_framereceiver --parallel "$(nproc)"

corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp tests/fuzz/corpus/* "$corpus"
mkdir -p build-fuzz/findings

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
build-fuzz/tests/fuzz/fuzz_framereceiver "$corpus" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix=build-fuzz/findings/ -print_final_stats=1 2>build-fuzz/fuzz.log ||
    {
        tail -n 60 build-fuzz/fuzz.log
        echo "Fuzzing found a fault; the input is in build-fuzz/findings/" >&2
        exit 1
    }
grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss_mb)' build-fuzz/fuzz.log
echo "Fuzzing ran ${seconds} s and found nothing."
