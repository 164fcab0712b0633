#!/usr/bin/env bash
# Builds the Debian package build/quorvel_<version>_<architecture>.deb from the RelWithDebInfo
# build in build/ (the one tools/run.sh and tools/test.sh use, so that nothing is built
# twice), and checks it with lintian: any error, or a warning not accepted below, fails.
# What goes into the package is said by the install rules and CPack variables in CMake
# (resources/CMakeLists.txt, resources/debian/package.cmake).
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh --package
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target quorvel_package_contents --parallel "$(nproc)"

rm -f build/quorvel_*.deb
if ! (cd build && cpack -G DEB >cpack.log 2>&1); then
    cat build/cpack.log >&2
    exit 1
fi
deb=$(ls build/quorvel_*.deb)
echo "Built $deb"

# Lintian tags of severity warning accepted, one per line with its reason in the README
# ("Install"). None so far.
accepted=()
report=$(lintian --display-info --pedantic "$deb" 2>&1 || true)
[ -z "$report" ] || echo "$report"
rejected=""
while IFS= read -r line; do
    severity=${line%%:*}
    tag=$(echo "$line" | sed -E 's/^[A-Z]: [^ ]+: ([^ ]+).*/\1/')
    case "$severity" in
        E) rejected+="$line"$'\n' ;;
        W) [[ " ${accepted[*]} " == *" $tag "* ]] || rejected+="$line"$'\n' ;;
    esac
done <<<"$report"
if [ -n "$rejected" ]; then
    echo "lintian: errors or warnings not accepted:" >&2
    echo -n "$rejected" >&2
    exit 1
fi
echo "lintian: no error, no warning but those accepted"
