#!/usr/bin/env bash
# Installs the Debian packages as a user would (apt-get, which brings their dependencies from
# Debian): quorvel, quorvel-refclock and their -dbgsym packages. Checks what they installed,
# runs the installed quorvel on quorvel-sim, then the installed chronyd with Debian's
# configuration and the installed quorvel.conf together with the installed quorvel-refclock
# and its installed settings on quorvel-sim, and removes them again with apt-get remove --purge.
# The machine is left as it was found, also when a check fails: the packages and anything
# apt-get installed with them are purged on exit.
#
#     tests/package/installtest.sh [build folder]     (default build; run tools/package.sh first)
#
# Needs root, and the packages not installed already: otherwise it says why and skips. No
# service is started by the installation (policy-rc.d), and the chronyd it runs never gets to
# touch the clock: -x, and no CAP_SYS_TIME in any of its capability sets. Uses the build
# folder's quorvel-sim. Ends with "N passed, N failed".
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}

skip() {
    echo "SKIPPED: $1"
    echo "0 passed, 0 failed, 1 skipped"
    exit 0
}
[ "$(id -u)" -eq 0 ] || skip "installing a package needs root"
packages=(quorvel quorvel-refclock quorvel-dbgsym quorvel-refclock-dbgsym)
for package in "${packages[@]}"; do
    if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed'; then
        skip "$package is installed on this machine already; the test would replace it"
    fi
done
debs=()
for package in "${packages[@]}"; do
    found=("$build/${package}"_*.deb)
    if [ ${#found[@]} -ne 1 ] || [ ! -f "${found[0]}" ]; then
        echo "need one $build/${package}_*.deb: run tools/package.sh" >&2
        exit 1
    fi
    debs+=("$(realpath "${found[0]}")")
done
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
chronyd=""
started_chronyd=no
refclock_pid=""
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
    for pid in $program $refclock_pid $chronyd $simulator; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    for package in "${packages[@]}"; do
        if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -qv 'not-installed'; then
            apt_get remove --purge "$package" >/dev/null
        fi
    done
    purge_added
    # The refclock socket the test's chronyd made in /run (which chronyd, no longer root,
    # cannot remove).
    if [ "$started_chronyd" = yes ] && ! socket_bound "$refclock_socket"; then
        rm -f "$refclock_socket"
    fi
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

# The system's chronyd, told from those of tests by its pid file; and the socket of the
# installed refclock line, which the chronyd run below creates. Checked before anything is
# installed: the installation must not start chronyd, and the run below must not meet one.
system_chronyd() {
    [ -r /run/chrony/chronyd.pid ] && kill -0 "$(cat /run/chrony/chronyd.pid)" 2>/dev/null
}
refclock_socket=/run/chrony.quorvel.sock
# Whether a live socket is bound to the path (a file left there by a chronyd that ended is not;
# chronyd replaces it when it starts), in this network namespace or in that of process $2.
socket_bound() {
    awk -v path="$1" '$NF == path { found = 1 } END { exit !found }' "/proc/${2:-self}/net/unix"
}
chrony_skip=""
if system_chronyd; then
    chrony_skip="a system chronyd runs (/run/chrony/chronyd.pid); the test runs its own"
elif socket_bound "$refclock_socket"; then
    chrony_skip="another chronyd listens on $refclock_socket"
elif ! command -v setpriv >/dev/null || [ ! -x /usr/sbin/chronyd ] && [ ! -x /usr/lib/chrony ]; then
    :
fi

echo "== apt-get install ${debs[*]##*/}"
if ! apt_get install "${debs[@]}" >"$work/install.log" 2>&1; then
    cat "$work/install.log"
    echo "FAILED: apt-get install"
    echo "0 passed, 1 failed"
    exit 1
fi
version=$(dpkg-query -W -f='${Version}' quorvel)
dpkg -L "${packages[@]}" | sort -u >"$work/files"

# What was installed, where a user and the desktop look for it.
appid=example.quorvel.Quorvel
expected=(/usr/bin/quorvel /usr/share/man/man1/quorvel.1.gz
    "/usr/share/applications/$appid.desktop" "/usr/share/metainfo/$appid.metainfo.xml"
    /usr/share/doc/quorvel/copyright /usr/share/doc/quorvel/changelog.gz)
for size in 16 32 64 128; do
    expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/$appid.png")
done
expected+=(/usr/bin/quorvel-refclock /usr/share/man/man1/quorvel-refclock.1.gz
    /lib/systemd/system/quorvel-refclock.service /etc/chrony/conf.d/quorvel.conf
    /etc/default/quorvel-refclock /usr/share/doc/quorvel-refclock/copyright
    /usr/share/doc/quorvel-refclock/changelog.gz)
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

# quorvel-refclock: its unit enabled by the installation but not started here (policy-rc.d,
# and no systemd running), chrony's restart asked for and refused the same way.
unit=/lib/systemd/system/quorvel-refclock.service
# shellcheck disable=SC2016 # the unit's own variable, not the shell's
check "refclock unit starts the installed program" \
    grep -qx 'ExecStart=/usr/bin/quorvel-refclock $QUORVEL_REFCLOCK_OPTS' "$unit"
check "refclock unit enabled (systemctl --root=/ is-enabled)" \
    test "$(systemctl --root=/ is-enabled quorvel-refclock.service 2>&1)" = enabled
check "refclock unit wanted by multi-user.target" \
    test -L /etc/systemd/system/multi-user.target.wants/quorvel-refclock.service
check "the settings are conffiles" bash -c "
    conffiles=\$(dpkg-query -W -f='\${Conffiles}' quorvel-refclock)
    grep -q ' /etc/chrony/conf.d/quorvel.conf ' <<<\"\$conffiles\" &&
    grep -q ' /etc/default/quorvel-refclock ' <<<\"\$conffiles\""
check "quorvel.conf: one refclock line on $refclock_socket, with no offset of its own" bash -c "
    [ \"\$(grep -c '^refclock ' /etc/chrony/conf.d/quorvel.conf)\" = 1 ] &&
    grep -q '^refclock SOCK $refclock_socket ' /etc/chrony/conf.d/quorvel.conf &&
    ! grep '^refclock ' /etc/chrony/conf.d/quorvel.conf | grep -qw offset"
check "quorvel.conf: serving the network is one line to uncomment" bash -c "
    grep -q '^#allow ' /etc/chrony/conf.d/quorvel.conf && ! grep -q '^allow' /etc/chrony/conf.d/quorvel.conf"
check "the installation asked to restart chrony and policy-rc.d refused" \
    grep -q 'policy-rc.d denied execution of restart' "$work/install.log"
# Neither the installed program nor a system chronyd running (other programs named
# quorvel-refclock, from build folders, may be).
check "the installation started neither quorvel-refclock nor chronyd" bash -c \
    "! readlink /proc/[0-9]*/exe 2>/dev/null | grep -qx /usr/bin/quorvel-refclock &&
     ! { [ -r /run/chrony/chronyd.pid ] && kill -0 \$(cat /run/chrony/chronyd.pid) 2>/dev/null; }"
check "quorvel-refclock --help runs" bash -c "quorvel-refclock --help >/dev/null"

# The -dbgsym packages: for each stripped program, its debugging information under its build id.
for binary in /usr/bin/quorvel /usr/bin/quorvel-refclock; do
    id=$(readelf -n "$binary" 2>/dev/null | sed -n 's/^ *Build ID: //p')
    debug=/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug
    check "$binary stripped, its debugging information in $debug" bash -c "
        [ -n '$id' ] && ! readelf -S '$binary' 2>/dev/null | grep -q '\.debug_info' &&
        readelf -S '$debug' 2>/dev/null | grep -q '\.debug_info' &&
        [ \"\$(readelf -n '$debug' 2>/dev/null | sed -n 's/^ *Build ID: //p')\" = '$id' ]"
done

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

# The installed chronyd with Debian's chrony.conf (which reads the installed quorvel.conf from
# its confdir) and the installed quorvel-refclock with its installed settings, the port pointed
# at the simulator's pseudo-terminal. chronyd runs with -x (it never controls the clock), under
# setpriv without CAP_SYS_TIME, with its own pid file, command socket, drift file and NTP port,
# and in a network namespace of its own where one can be made (so that the pool of Debian's
# configuration is out of reach and the refclock is its only source); its refclock socket is
# the installed line's.
skipped=0
chrony_run() {
    local state=$work/chrony
    local conf=$work/chrony.conf
    local command_socket=$state/chronyd.sock
    local refid port
    refid=$(sed -n 's/^refclock .* refid \([^ ]*\).*/\1/p' /etc/chrony/conf.d/quorvel.conf)
    chmod 0711 "$work"
    mkdir -m 0770 "$state"
    chown _chrony:_chrony "$state"
    port=$((20000 + RANDOM % 20000))
    printf '%s\n' "include /etc/chrony/chrony.conf" "pidfile $state/chronyd.pid" \
        "bindcmdaddress $command_socket" "cmdport 0" "port $port" \
        "driftfile $state/chrony.drift" "ntsdumpdir $state" "logdir $state" >"$conf"
    local guard=(setpriv --bounding-set=-sys_time --inh-caps=-sys_time)
    local namespace=()
    unshare --net true 2>/dev/null && namespace=(unshare --net)
    check "chronyd reads the installed quorvel.conf through Debian's confdir" bash -c \
        "${guard[*]} /usr/sbin/chronyd -p -f '$conf' 2>&1 | grep -q '^refclock SOCK $refclock_socket '"
    "${namespace[@]}" "${guard[@]}" /usr/sbin/chronyd -x -d -f "$conf" >"$work/chronyd.log" 2>&1 &
    chronyd=$!
    started_chronyd=yes
    for _ in $(seq 100); do
        [ -S "$command_socket" ] && break
        kill -0 "$chronyd" 2>/dev/null || break
        sleep 0.1
    done
    check "chronyd came up (command socket $command_socket)" test -S "$command_socket"
    # Its capability sets from /proc: none may hold CAP_SYS_TIME (bit 25); and it has dropped
    # root for _chrony, as it does on a real system. Otherwise it is stopped at once.
    local status=/proc/$chronyd/status held="" mask
    for set in CapBnd CapEff CapPrm CapInh; do
        mask=$(sed -n "s/^$set:\t//p" "$status" 2>/dev/null)
        if [ -z "$mask" ] || (((0x$mask >> 25) & 1)); then held+="$set=${mask:-?} "; fi
    done
    check "the running chronyd holds no CAP_SYS_TIME${held:+ ($held)}" test -z "$held"
    check "the running chronyd has dropped root" bash -c \
        "grep -q '^Name:.chronyd' '$status' && ! grep -qE '^Uid:.*\b0\b' '$status'"
    if [ -n "$held" ] || ! grep -q '^Name:.chronyd' "$status" 2>/dev/null; then
        kill "$chronyd" 2>/dev/null
        return 1
    fi
    check "chronyd listens on the installed line's socket $refclock_socket" \
        socket_bound "$refclock_socket" "$chronyd"

    # The simulator stands for a device, whose timing does not suffer from this machine's load:
    # it runs at real-time priority where that is allowed (the refclock runs as its unit runs
    # it, at normal priority).
    local realtime=()
    chrt -f 10 true 2>/dev/null && realtime=(chrt -f 10)
    "${realtime[@]}" "$sim" --offset 0.25 >"$work/sim2.out" 2>"$work/sim2.err" &
    simulator=$!
    for _ in $(seq 100); do
        [ -s "$work/sim2.out" ] && break
        sleep 0.05
    done
    local device options pointed
    device=$(head -n 1 "$work/sim2.out")
    # shellcheck disable=SC1091 # the installed settings, read as the unit reads them
    options=$(. /etc/default/quorvel-refclock && echo "$QUORVEL_REFCLOCK_OPTS")
    pointed=$(sed -E "s#--port[= ]+[^ ]+#--port $device#" <<<"$options")
    check "the installed settings name a port ($options)" test "$pointed" != "$options"
    # As its unit runs it: as root with no capability at all.
    # shellcheck disable=SC2086 # the options are words, as in the unit's ExecStart
    # It shares the device in a folder of the test's, as in the unit's RuntimeDirectory.
    local share_dir=$work/share
    mkdir -p "$share_dir"
    QUORVEL_SHARE_DIR=$share_dir setpriv --bounding-set=-all --inh-caps=-all --no-new-privs \
        /usr/bin/quorvel-refclock $pointed 2>"$work/refclock.log" &
    refclock_pid=$!

    local selected="" started=$SECONDS
    while [ $((SECONDS - started)) -lt 60 ] && kill -0 "$chronyd" 2>/dev/null; do
        if chronyc -c -h "$command_socket" sources 2>/dev/null |
            awk -F, -v id="$refid" '$1 == "#" && $2 == "*" && $3 == id { found = 1 } END { exit !found }'; then
            selected=$((SECONDS - started))
            break
        fi
        sleep 0.5
    done
    check "chronyd selected the device ($refid)${selected:+ after about $selected s}" test -n "$selected"
    # Its estimate of the device's offset: tracking's system time correction (chronyd does not
    # correct the clock) less the source's remaining offset in sourcestats.
    local estimate="" correction residual
    if [ -n "$selected" ]; then
        sleep 8
        correction=$(chronyc -c -h "$command_socket" tracking | awk -F, -v id="$refid" '$2 == id { print $5 }')
        residual=$(chronyc -c -h "$command_socket" sourcestats | awk -F, -v id="$refid" '$1 == id { print $7 }')
        if [ -n "$correction" ] && [ -n "$residual" ]; then
            estimate=$(awk -v c="$correction" -v r="$residual" 'BEGIN { printf "%.6f", c - r }')
        fi
    fi
    echo "chronyd's estimate: ${estimate:-none} s, simulated 0.250000 s"
    check "chronyd's estimate within 5 ms of the simulated offset" bash -c \
        "[ -n '$estimate' ] && awk -v e='$estimate' 'BEGIN { d = e - 0.25; exit !(d < 0.005 && d > -0.005) }'"

    # The installed window on the same device, while the service holds it: it reads the device
    # through the service (it never opens the device itself) and shows the device's frames.
    local window window_start window_end frames="" opened_device=no
    window_start=$(date +%s)
    QUORVEL_COM1=$device QUORVEL_SHARE_DIR=$share_dir QT_QPA_PLATFORM=offscreen \
        QT_LOGGING_RULES=quorvel.frames.info=true /usr/bin/quorvel 2>"$work/shared.err" &
    window=$!
    sleep 4
    readlink /proc/$window/fd/* 2>/dev/null | grep -qx "$device" && opened_device=yes
    window_end=$(date +%s)
    kill -TERM "$window" 2>/dev/null
    wait "$window" 2>/dev/null || true
    while IFS=',' read -r time date _; do
        when=$(date -d "${date:6:4}-${date:0:2}-${date:3:2} $time" +%s 2>/dev/null) || continue
        if [ "$when" -ge $((window_start - 1)) ] && [ "$when" -le $((window_end + 1)) ]; then
            frames="$time,$date"
            break
        fi
    done < <(sed -n 's/^.*frame shown: //p' "$work/shared.err")
    check "the installed window shows the device's frames through the service (${frames:-none})" \
        test -n "$frames" -a "$opened_device" = no

    kill -TERM "$refclock_pid"
    local refclock_status=0
    wait "$refclock_pid" || refclock_status=$?
    refclock_pid=""
    check "quorvel-refclock ends with status 0 on SIGTERM (got $refclock_status)" \
        test "$refclock_status" -eq 0
    kill -TERM "$chronyd"
    local chronyd_status=0
    wait "$chronyd" || chronyd_status=$?
    chronyd=""
    check "chronyd ends with status 0 on SIGTERM, its command socket and pid file removed" bash -c \
        "[ $chronyd_status -eq 0 ] && [ ! -e '$command_socket' ] && [ ! -e '$state/chronyd.pid' ]"
    # chronyd, no longer root, cannot remove the refclock socket it made in /run (nor can
    # Debian's, which replaces it when it starts); the test removes the file it caused.
    socket_bound "$refclock_socket" || rm -f "$refclock_socket"
    kill "$simulator" 2>/dev/null && wait "$simulator" 2>/dev/null || true
    simulator=""
}
echo "== The installed chronyd and quorvel-refclock on quorvel-sim"
if [ -n "$chrony_skip" ]; then
    echo "SKIPPED: $chrony_skip"
    skipped=1
elif ! chrony_run; then
    echo "chronyd:"
    cat "$work/chronyd.log"
fi
if [ "$failed" -gt 0 ]; then
    for log in chronyd refclock; do
        [ -s "$work/$log.log" ] && { echo "-- $log:"; cat "$work/$log.log"; }
    done
fi

echo "== apt-get remove --purge ${packages[*]}"
apt_get remove --purge "${packages[@]}" >"$work/remove.log" 2>&1 || cat "$work/remove.log"
for package in "${packages[@]}"; do
    check "$package is purged" bash -c \
        "! dpkg-query -W -f='\${Status}' $package 2>/dev/null | grep -qv not-installed"
done
check "the removal asked to restart chrony and policy-rc.d refused" \
    grep -q 'policy-rc.d denied execution of restart' "$work/remove.log"
left=""
while IFS= read -r path; do
    if [ -d "$path" ]; then
        [ -L "$path" ] || continue # directories other packages share
        # The same through a symbolic link, such as /lib on a merged /usr.
        dpkg-query -S "$path" >/dev/null 2>&1 && continue
    fi
    [ -e "$path" ] || [ -L "$path" ] && left+="$path "
done <"$work/files"
for folder in /usr/share/doc/quorvel /usr/share/doc/quorvel-refclock; do
    [ -d "$folder" ] && left+="$folder "
done
check "no file of the packages left behind${left:+: $left}" test -z "$left"
check "no enablement of the unit left" bash -c "[ -z \"\$(find /etc/systemd/system \
    /var/lib/systemd/deb-systemd-helper-enabled -name 'quorvel-refclock*' 2>/dev/null)\" ]"

purge_added
check "the installed packages are those from before" diff <(installed_packages) "$before"
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
