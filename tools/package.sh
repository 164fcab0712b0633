#!/usr/bin/env bash
# Builds the Debian packages the Debian way (debian/, dpkg-buildpackage -b with debhelper):
# quorvel, quorvel-refclock and their -dbgsym packages. Copies the .deb files into build/ and
# checks them with lintian --pedantic: any error or warning fails; the other tags are printed.
#
# dpkg-buildpackage builds in debian/build (CMake and Ninja, with dpkg-buildflags' flags), apart
# from the developer's build/; the tests are neither built nor run there (tools/test.sh runs
# them). Its products go to a temporary folder, not to the folder above the checkout, and
# debian/ is cleaned afterwards. ccache is used when installed.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh --package

out=$(mktemp -d)
cleanup() {
    rm -rf "$out"
    debian/rules clean >/dev/null 2>&1 || true
}
trap cleanup EXIT

if command -v ccache >/dev/null; then
    export QUORVEL_COMPILER_LAUNCHER=ccache
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
    # dh (compat 13) gives the build a HOME of its own, where ccache would start empty.
    CCACHE_DIR=${CCACHE_DIR:-$(ccache -k cache_dir)}
    export CCACHE_DIR
fi
export QUORVEL_DEB_DESTDIR=$out
DEB_BUILD_OPTIONS="parallel=$(nproc)${DEB_BUILD_OPTIONS:+ $DEB_BUILD_OPTIONS}"
export DEB_BUILD_OPTIONS
mkdir -p build
log=build/dpkg-buildpackage.log
echo "== dpkg-buildpackage -b (log: $log)"
if ! nice dpkg-buildpackage -b -us -uc \
    --buildinfo-file="$out/quorvel.buildinfo" --buildinfo-option=-u"$out" \
    --changes-file="$out/quorvel.changes" --changes-option=-u"$out" >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    exit 1
fi

rm -f build/quorvel_*.deb build/quorvel-*.deb
cp "$out"/*.deb build/
debs=()
for deb in "$out"/*.deb; do
    debs+=("build/$(basename "$deb")")
    echo "Built build/$(basename "$deb")"
done

# Every tag lintian finds is printed; errors and warnings fail.
report=$(lintian --pedantic --display-info "$out/quorvel.changes" 2>&1 || true)
[ -z "$report" ] || echo "$report"
rejected=$(grep -E '^[EW]: ' <<<"$report" || true)
if [ -n "$rejected" ]; then
    echo "lintian: errors or warnings:" >&2
    echo "$rejected" >&2
    exit 1
fi
echo "lintian: no error, no warning (${#debs[@]} packages)"
