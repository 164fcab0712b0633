#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running, packaging and testing Quorvel need,
# and only those that are missing. Uses sudo when not run as root.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl-dev
    fonts-dejavu-core
    fonts-liberation2           # the clock display's font widths where MS Sans Serif is missing
)
# --package: what tools/package.sh needs; --test: what the tests need, the package's
# install test among them.
want_package=no
want_test=no
for argument in "$@"; do
    case "$argument" in
        --package) want_package=yes ;;
        --test) want_package=yes want_test=yes ;;
        *) echo "usage: $0 [--package] [--test]" >&2; exit 2 ;;
    esac
done
if [ "$want_package" = yes ]; then
    packages+=(
        dpkg-dev                    # dpkg-shlibdeps, for the package's dependencies
        file binutils               # CPack's DEB generator: finding and splitting binaries
        lintian
        man-db                      # man --warnings, for the manual pages' check
    )
fi
if [ "$want_test" = yes ]; then
    packages+=(
        dbus                        # private dbus-daemon for the clock tests
        systemd                     # the real systemd-timedated, run by the clock tests
        tzdata                      # time-zone rules (Europe/Madrid) for the clock tests
        binutils-mingw-w64-x86-64   # checks the Windows version resource
        desktop-file-utils appstream
        clang libclang-rt-14-dev    # libFuzzer (tools/fuzz.sh)
        clang-tidy cppcheck         # tools/static-checks.sh
    )
fi

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
# Installing must leave no system service running (dbus, systemd's): while it runs, a
# policy-rc.d of our own tells the packages' scripts not to start any.
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
    $sudo chmod 755 "$policy"
    trap '$sudo rm -f "$policy"' EXIT
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
