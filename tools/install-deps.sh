#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Quorvel need, and only
# those that are missing. Uses sudo when not run as root.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl-dev
    fonts-dejavu-core
    fonts-liberation2           # the clock display's font widths where MS Sans Serif is missing
)
if [ "${1:-}" = "--test" ]; then
    packages+=(
        dbus                        # private dbus-daemon for the clock tests
        systemd                     # the real systemd-timedated, run by the clock tests
        tzdata                      # time-zone rules (Europe/Madrid) for the clock tests
        binutils-mingw-w64-x86-64   # checks the Windows version resource
        desktop-file-utils appstream
        clang libclang-rt-14-dev    # libFuzzer (tools/fuzz.sh)
        clang-tidy cppcheck         # tools/static-checks.sh
        g++-mingw-w64-x86-64-posix  # the Windows cross-build and its syntax check
        wine64                      # runs the Windows tests (tools/windows/test.sh)
        nsis                        # makes the Windows installer
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
