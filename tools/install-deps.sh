#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running, packaging and testing Quorvel need,
# and only those that are missing. Uses sudo when not run as root.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl-dev
    fonts-dejavu-core
    fonts-liberation2           # the clock display's font widths where MS Sans Serif is missing
    qt6-translations-l10n       # Qt's own texts in Spanish; the Windows installer ships its qtbase_es.qm
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
        dpkg-dev                    # dpkg-buildpackage
        debhelper                   # dh and its helpers (debian/rules), the -dbgsym packages
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
        g++-mingw-w64-x86-64-posix  # the Windows cross-build and its syntax check
        wine64                      # runs the Windows tests (tools/windows/test.sh)
        nsis                        # makes the Windows installer
        dpkg-dev                    # dpkg-source: QtNetwork for MinGW from Debian's source
        chrony                      # the real chronyd for quorvel-refclock's tests (never
                                    # allowed to touch the clock; see below)
        systemd                     # systemd-analyze checks quorvel-refclock.service; the
                                    # real systemd-timedated for the clock tests
        systemd-container           # systemd-nspawn boots the install test's Debian 12
        mmdebstrap                  # makes that container's root from Debian's mirror
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

# No package may start its service (dbus, systemd's, chrony's): the tests run chronyd and
# timedated themselves, without the right to set the clock, and a system chronyd would set it. invoke-rc.d asks policy-rc.d, and exit status
# 101 forbids every start. A policy-rc.d already there (as in containers) is left as it is.
policy=/usr/sbin/policy-rc.d
own_policy=""
remove_policy() { [ -z "$own_policy" ] || $sudo rm -f "$policy"; }
if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\n# Left by Quorvel tools/install-deps.sh while it installs.\nexit 101\n' |
        $sudo tee "$policy" >/dev/null
    $sudo chmod 755 "$policy"
    own_policy=1
    trap remove_policy EXIT
fi
# The system's chronyd, told from the tests' own by its pid file.
system_chronyd() {
    [ -r /run/chrony/chronyd.pid ] && kill -0 "$(cat /run/chrony/chronyd.pid)" 2>/dev/null
}
chronyd_before=""
system_chronyd && chronyd_before=1

$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
remove_policy
own_policy=""

# Check that the install left no system chronyd running that was not running before. (Debian
# enables chrony.service for the next boot, and chrony takes the place of systemd-timesyncd.)
if [ -z "$chronyd_before" ] && system_chronyd; then
    echo "install-deps: the install started the system's chronyd; stopping it" >&2
    $sudo systemctl stop chrony.service 2>/dev/null || $sudo kill "$(cat /run/chrony/chronyd.pid)"
    sleep 1
    if system_chronyd; then
        echo "install-deps: the system's chronyd is still running" >&2
        exit 1
    fi
fi
