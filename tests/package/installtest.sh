#!/usr/bin/env bash
# Installs the Debian package as a user would (apt-get, which brings its dependencies from
# Debian), checks what it installed, runs the installed quorvel on quorvel-sim, and removes it
# again with apt-get remove --purge. The machine is left as it was found, also when a check
# fails: the package and anything apt-get installed with it are purged on exit.
#
#     tests/package/installtest.sh [build folder]     (default build; run tools/package.sh first)
#
# Needs root, and quorvel not installed already: otherwise it says why and skips. Uses the
# build folder's quorvel-sim. Ends with "N passed, N failed".
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}

skip() {
    echo "SKIPPED: $1"
    echo "0 passed, 0 failed, 1 skipped"
    exit 0
}
[ "$(id -u)" -eq 0 ] || skip "installing a package needs root"
if dpkg-query -W -f='${Status}' quorvel 2>/dev/null | grep -q 'ok installed'; then
    skip "quorvel is installed on this machine already; the test would replace it"
fi
debs=("$build"/quorvel_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    echo "need one $build/quorvel_*.deb: run tools/package.sh" >&2
    exit 1
fi
deb=$(realpath "${debs[0]}")
[ -x "$build/quorvel-sim" ] || { echo "need $build/quorvel-sim: build first" >&2; exit 1; }
sim=$(realpath "$build/quorvel-sim")

passed=0
failed=0
check() { # check <what> <command...>
    local what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "ok: $what"
    else
        failed=$((failed + 1))
        echo "FAILED: $what"
    fi
}

apt_get() {
    DEBIAN_FRONTEND=noninteractive apt-get -q -y -o DPkg::Lock::Timeout=300 "$@"
}

installed_packages() { dpkg-query -W -f='${db:Status-Abbrev} ${Package}:${Architecture}\n' | awk '$1 == "ii" { print $2 }' | sort; }

work=$(mktemp -d)
before="$work/before"
installed_packages >"$before"
simulator=""
program=""
policy=/usr/sbin/policy-rc.d
own_policy=no
# Purges what apt-get installed besides what was there before.
purge_added() {
    local added
    added=$(installed_packages | comm -13 "$before" -)
    [ -z "$added" ] && return 0
    echo "Purging what came with the package: ${added//$'\n'/ }"
    # shellcheck disable=SC2086 # one package name a word
    apt_get remove --purge $added >/dev/null
}
cleanup() {
    set +e
    for pid in $program $simulator; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    if dpkg-query -W -f='${Status}' quorvel 2>/dev/null | grep -qv 'not-installed'; then
        apt_get remove --purge quorvel >/dev/null
    fi
    purge_added
    [ "$own_policy" = no ] || rm -f "$policy"
    rm -rf "$work"
}
trap cleanup EXIT

# No service may start while packages are installed.
if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' >"$policy"
    chmod 755 "$policy"
    own_policy=yes
fi

echo "== apt-get install $deb"
if ! apt_get install "$deb" >"$work/install.log" 2>&1; then
    cat "$work/install.log"
    echo "FAILED: apt-get install"
    echo "0 passed, 1 failed"
    exit 1
fi
version=$(dpkg-query -W -f='${Version}' quorvel)
dpkg -L quorvel | sort >"$work/files"

# What was installed, where a user and the desktop look for it.
appid=example.quorvel.Quorvel
expected=(/usr/bin/quorvel /usr/share/man/man1/quorvel.1.gz
    "/usr/share/applications/$appid.desktop" "/usr/share/metainfo/$appid.metainfo.xml"
    /usr/share/doc/quorvel/copyright /usr/share/doc/quorvel/changelog.gz)
for size in 16 32 64 128; do
    expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/$appid.png")
done
refclock=no
[ -x "$build/quorvel-refclock" ] && refclock=yes
if [ "$refclock" = yes ]; then
    expected+=(/usr/bin/quorvel-refclock /usr/share/man/man1/quorvel-refclock.1.gz)
fi
for file in "${expected[@]}"; do
    check "installed $file" test -f "$file"
done
check "no simulator, screenshot or test program in the package" \
    bash -c "! grep -E '/(quorvel-(sim|screenshot)|fake-|tst_|bench_)' '$work/files'"
check "the installed quorvel is the one on PATH" test "$(command -v quorvel)" = /usr/bin/quorvel
check "quorvel --version says $version" \
    test "$(QT_QPA_PLATFORM=offscreen quorvel --version 2>/dev/null)" = "quorvel $version"
check "man finds quorvel(1)" test "$(man -w quorvel)" = /usr/share/man/man1/quorvel.1.gz
check "desktop-file-validate passes" \
    bash -c "out=\$(desktop-file-validate /usr/share/applications/$appid.desktop 2>&1) && [ -z \"\$out\" ] || { echo \"\$out\"; false; }"
check "appstreamcli validate passes" \
    appstreamcli validate --no-net /usr/share/metainfo/$appid.metainfo.xml
check "the menu entry starts quorvel with its icon" bash -c \
    "grep -qx 'Exec=quorvel' /usr/share/applications/$appid.desktop && grep -qx 'Icon=$appid' /usr/share/applications/$appid.desktop"

if [ "$refclock" = yes ]; then
    unit=$(grep -E '^/(usr/)?lib/systemd/system/quorvel-refclock\.service$' "$work/files" || true)
    check "refclock unit installed ($unit)" test -n "$unit" -a -f "$unit"
    # shellcheck disable=SC2016 # the unit's own variable, not the shell's
    check "refclock unit starts the installed program" \
        grep -qx 'ExecStart=/usr/bin/quorvel-refclock $QUORVEL_REFCLOCK_OPTS' "${unit:-/nonexistent}"
    # Not enabled (no link to it under /etc/systemd/system) and the installed program not
    # running (other programs named quorvel-refclock, from build folders, may be).
    check "refclock unit neither enabled nor running" bash -c \
        "[ -z \"\$(find /etc/systemd/system -name quorvel-refclock.service 2>/dev/null)\" ] &&
         ! readlink /proc/[0-9]*/exe 2>/dev/null | grep -qx /usr/bin/quorvel-refclock"
    check "quorvel-refclock --help runs" bash -c "quorvel-refclock --help >/dev/null"
fi

# The installed program on the simulated device, offscreen, logging each frame it shows
# (QT_LOGGING_RULES, the category quorvel.frames): one of them must be a frame of the device's
# clock, 3 days ahead of the computer's, from the seconds of the run.
echo "== The installed quorvel on quorvel-sim"
offset=259200
"$sim" --offset 3d >"$work/sim.out" 2>"$work/sim.err" &
simulator=$!
for _ in $(seq 100); do
    [ -s "$work/sim.out" ] && break
    sleep 0.05
done
device=$(head -n 1 "$work/sim.out")
start=$(date +%s)
QUORVEL_COM1=$device QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES=quorvel.frames.info=true \
    /usr/bin/quorvel 2>"$work/quorvel.err" &
program=$!
opened=no
for _ in $(seq 50); do
    if [ -n "$device" ] && [ "$(readlink /proc/$program/fd/* 2>/dev/null | grep -cx "$device")" -gt 0 ]; then
        opened=yes
        break
    fi
    sleep 0.1
done
check "quorvel opened the simulator's line $device" test "$opened" = yes
sleep 3
check "quorvel still running after 3 s" kill -0 "$program"
end=$(date +%s)
kill -TERM "$program"
status=0
wait "$program" || status=$?
program=""
check "quorvel ends with status 0 on SIGTERM (got $status)" test "$status" -eq 0
# "quorvel.frames: frame shown: hh:mm:ss,mm/dd/yyyy,weekday,summer", the device's local time.
shown=""
while IFS=',' read -r time date _; do
    when=$(date -d "${date:6:4}-${date:0:2}-${date:3:2} $time" +%s 2>/dev/null) || continue
    if [ "$when" -ge $((start + offset - 1)) ] && [ "$when" -le $((end + offset + 1)) ]; then
        shown="$time,$date"
        break
    fi
done < <(sed -n 's/^.*frame shown: //p' "$work/quorvel.err")
check "the window showed a frame of the device (${shown:-none} of $(grep -c 'frame shown: ' "$work/quorvel.err") shown)" \
    test -n "$shown"
kill "$simulator" 2>/dev/null && wait "$simulator" 2>/dev/null || true
simulator=""

echo "== apt-get remove --purge quorvel"
apt_get remove --purge quorvel >"$work/remove.log" 2>&1 || cat "$work/remove.log"
check "quorvel is purged" bash -c "! dpkg-query -W -f='\${Status}' quorvel 2>/dev/null | grep -qv not-installed"
left=""
while IFS= read -r path; do
    [ -d "$path" ] && [ ! -L "$path" ] && continue # directories other packages share
    [ -e "$path" ] || [ -L "$path" ] && left+="$path "
done <"$work/files"
[ -d /usr/share/doc/quorvel ] && left+="/usr/share/doc/quorvel "
check "no file of the package left behind${left:+: $left}" test -z "$left"

purge_added
check "the installed packages are those from before" diff <(installed_packages) "$before"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
