#!/usr/bin/env bash
# Installs the Debian packages as a user would, on a Debian 12 that runs its own systemd: boots a
# container with systemd-nspawn (no network, no CAP_SYS_TIME) and there installs quorvel,
# quorvel-refclock and their -dbgsym packages with apt-get, services allowed to start. Checks
# what they installed; that quorvel-refclock.service is started, enabled and holds no
# capability; runs the installed window on quorvel-sim; runs a second chronyd inside (local
# stratum 1, on loopback) as chrony's other source while quorvel-refclock reads a
# "quorvel-sim --delay 130ms --jitter 3ms" device linked as /dev/ttyUSB0; and purges the packages
# again with apt-get remove --purge.
#
#     tests/package/installtest.sh [build folder]     (default build; run tools/package.sh first)
#
# Needs root, systemd-nspawn and mmdebstrap (tools/install-deps.sh --test); otherwise it says why
# and skips. The container's root is made by mmdebstrap from the mirror of this machine's apt
# sources, with the packages' dependencies (those apt-get picks there, Recommends included)
# already downloaded into its apt cache, since the container itself has no network: kept as a tar
# file in <build>/container/ and made again only when its inputs change. Every chronyd runs with
# -x and without CAP_SYS_TIME (checked in /proc), and the container is powered off and removed on
# exit, also when a check fails. This machine's packages are not touched. Uses the build folder's
# quorvel-sim. Prints how long it took; ends with "N passed, N failed".
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}

# How long the service may take to calibrate itself, in seconds (10 minutes and a margin).
calibration_wait=${QUORVEL_CALIBRATION_WAIT:-630}

begun=$SECONDS
skip() {
    echo "SKIPPED: $1"
    echo "0 passed, 0 failed, 1 skipped"
    exit 0
}
[ "$(id -u)" -eq 0 ] || skip "booting a container and installing packages need root"
command -v systemd-nspawn >/dev/null || skip "no systemd-nspawn (apt-get install systemd-container)"
command -v nsenter >/dev/null || skip "no nsenter"
packages=(quorvel quorvel-refclock quorvel-dbgsym quorvel-refclock-dbgsym)
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

# The container's root, made from this machine's Debian mirror. Its inputs name the tar file:
# the suite, the mirror, what it includes and the dependencies of the packages (whose files are
# downloaded into its apt cache, so that apt-get finds them there without a network).
mirror=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
[ -n "$mirror" ] || mirror=$(awk '$1 == "deb" && $3 == "bookworm" { print $2; exit }' /etc/apt/sources.list 2>/dev/null)
mirror=${mirror:-http://deb.debian.org/debian}
# systemd to boot; chrony (the packages' dependency) to configure before it first starts; man-db
# for "man -w"; libqt6core6 for quorvel-sim, which runs before the packages are installed.
include=systemd,systemd-sysv,dbus,chrony,man-db,libqt6core6
containers=$(realpath -m "$build/container")
mkdir -p "$containers"
key=$({
    echo "bookworm $mirror $include 2"
    for deb in "${debs[@]}"; do dpkg-deb -f "$deb" Package Pre-Depends Depends Recommends; done
} | sha256sum | cut -c1-16)
tarball=$containers/bookworm-$key.tar
work=$(mktemp -d)
root=$containers/root
machine=quorvel-installtest-$$
nspawn=""
leader=""
nspawn_run_existed=no
[ -d /run/systemd/nspawn ] && nspawn_run_existed=yes

inside() { # a command in the container, with its root's environment
    # (never from the terminal: a background one would stop on reading it, and the container
    # with it)
    nsenter -t "$leader" -a -- env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 HOME=/root "$@" </dev/null
}
cleanup() {
    set +e
    if [ -n "$nspawn" ] && kill -0 "$nspawn" 2>/dev/null; then
        [ -n "$leader" ] && inside systemctl poweroff >/dev/null 2>&1
        for _ in $(seq 100); do
            kill -0 "$nspawn" 2>/dev/null || break
            sleep 0.2
        done
        kill "$nspawn" 2>/dev/null && sleep 2
        kill -KILL "$leader" "$nspawn" 2>/dev/null
        wait "$nspawn" 2>/dev/null
    fi
    rm -rf "$root" "$work" "$containers/.#root.lck"
    rm -rf "/run/systemd/nspawn/propagate/$machine"
    [ "$nspawn_run_existed" = yes ] || rm -rf /run/systemd/nspawn
}
trap cleanup EXIT

if [ ! -s "$tarball" ]; then
    command -v mmdebstrap >/dev/null || skip "no mmdebstrap to make the container (apt-get install mmdebstrap)"
    echo "== mmdebstrap bookworm from $mirror ($tarball)"
    made=$SECONDS
    rm -rf "$containers"/bookworm-*.tar "$containers"/bookworm-*.tar.part
    # shellcheck disable=SC2016 # "$1" is the hooks' own: the root mmdebstrap makes
    if ! mmdebstrap --variant=apt --format=tar --include="$include" \
        --skip=cleanup/apt/lists --skip=cleanup/apt/cache \
        --customize-hook='mkdir -p "$1/tmp/quorvel-debs"' \
        --customize-hook="copy-in ${debs[*]} /tmp/quorvel-debs" \
        --customize-hook='chroot "$1" sh -c "env -u APT_CONFIG apt-get install -y -q -o APT::Install-Recommends=true --download-only /tmp/quorvel-debs/*.deb"' \
        --customize-hook='rm -rf "$1/tmp/quorvel-debs"' \
        bookworm "$tarball.part" "$mirror" >"$work/mmdebstrap.log" 2>&1; then
        tail -n 30 "$work/mmdebstrap.log"
        rm -rf "$tarball.part"
        echo "FAILED: mmdebstrap"
        echo "0 passed, 1 failed"
        exit 1
    fi
    mv "$tarball.part" "$tarball"
    echo "made in $((SECONDS - made)) s"
fi
rm -rf "$root"
mkdir -p "$root"
tar -C "$root" -xpf "$tarball"
rm -f "$root/usr/sbin/policy-rc.d"

# Set up before the first boot: chrony without its pool (there is no network), following the
# second chronyd instead, and started although the container has no CAP_SYS_TIME, with -x (it
# never touches the clock); the second chronyd; the packages and the simulator.
sed -i 's/^pool /#pool /' "$root/etc/chrony/chrony.conf"
echo 'server 127.0.0.1 port 11123 iburst minpoll -4 maxpoll -4' >"$root/etc/chrony/conf.d/quorvel-test.conf"
echo 'DAEMON_OPTS="-F 1 -x"' >"$root/etc/default/chrony"
mkdir -p "$root/etc/systemd/system/chrony.service.d"
printf '[Unit]\nConditionCapability=\n' >"$root/etc/systemd/system/chrony.service.d/quorvel-test.conf"
mkdir -p "$root/etc/quorvel-test"
printf '%s\n' 'local stratum 1' 'allow 127.0.0.1' 'bindaddress 127.0.0.1' 'port 11123' 'cmdport 0' \
    'pidfile /run/quorvel-test-ntp.pid' >"$root/etc/quorvel-test/ntp.conf"
cat >"$root/etc/systemd/system/quorvel-test-ntp.service" <<'EOF'
[Unit]
Description=A second chronyd, serving the container's clock on loopback (never touching it)
[Service]
ExecStart=/usr/sbin/chronyd -x -d -f /etc/quorvel-test/ntp.conf
CapabilityBoundingSet=~CAP_SYS_TIME
[Install]
WantedBy=multi-user.target
EOF
ln -s /etc/systemd/system/quorvel-test-ntp.service "$root/etc/systemd/system/multi-user.target.wants/"
mkdir -p "$root/root/debs"
cp "${debs[@]}" "$root/root/debs/"
cp "$sim" "$root/usr/local/bin/quorvel-sim"

echo "== Booting Debian 12 in a container ($machine)"
booted=$SECONDS
systemd-nspawn -D "$root" -M "$machine" -b --private-network --register=no --keep-unit \
    --console=passive >"$work/boot.log" 2>&1 &
nspawn=$!
# The container's systemd: the child of systemd-nspawn that runs systemd (its first children
# only prepare the container).
for _ in $(seq 300); do
    leader=$(pgrep -P "$nspawn" -x systemd | head -n 1 || true)
    [ -n "$leader" ] && break
    kill -0 "$nspawn" 2>/dev/null || break
    sleep 0.1
done
# Its state once it has booted (systemctl cannot ask before its bus is up).
state=""
while [ -n "$leader" ] && [ -z "$state" ] && [ $((SECONDS - booted)) -lt 90 ] && kill -0 "$nspawn" 2>/dev/null; do
    state=$(timeout 90 nsenter -t "$leader" -a -- systemctl is-system-running --wait 2>/dev/null || true)
    [ -n "$state" ] || sleep 0.5
done
check "the container booted (systemd: ${state:-no answer}) in $((SECONDS - booted)) s" \
    test "$state" = running -o "$state" = degraded
if [ -z "$state" ]; then
    cat "$work/boot.log"
    echo "$passed passed, $failed failed"
    exit 1
fi
[ "$state" = running ] || inside systemctl --failed --no-legend

# Nothing in the container may set the clock: its processes have no CAP_SYS_TIME (bit 25) in any
# set; and each chronyd runs with -x.
in_container() { # in_container pgrep <options>: the host's pids of the container's processes
    local pid
    for pid in $("$@"); do
        [ "$(readlink "/proc/$pid/ns/pid")" = "$(readlink "/proc/$leader/ns/pid")" ] && echo "$pid"
    done
    return 0
}
no_sys_time() { # no_sys_time <host pid>
    local mask set
    for set in CapBnd CapEff CapPrm CapInh; do
        mask=$(sed -n "s/^$set:\t//p" "/proc/$1/status" 2>/dev/null)
        [ -n "$mask" ] || return 1
        (((0x$mask >> 25) & 1)) && return 1
    done
    return 0
}
check "the container's systemd holds no CAP_SYS_TIME" no_sys_time "$leader"
chronyds_guarded() { # every chronyd process in the container: -x, no CAP_SYS_TIME; echoes how many
    local pid count=0
    for pid in $(in_container pgrep -x chronyd); do
        tr '\0' '\n' <"/proc/$pid/cmdline" | grep -qx -- -x || return 1
        no_sys_time "$pid" || return 1
        count=$((count + 1))
    done
    echo "$count"
}
chronyd_count=$(chronyds_guarded || echo unguarded)
check "every chronyd runs with -x and no CAP_SYS_TIME (chrony's and the second: $chronyd_count processes)" test "$chronyd_count" -ge 2
if [ "$chronyd_count" = unguarded ]; then
    echo "a chronyd that could touch the clock: stopping"
    exit 1
fi
check "chrony follows the second chronyd before the installation" bash -c "
    for _ in \$(seq 60); do
        nsenter -t $leader -a -- chronyc -c sources 2>/dev/null | grep -q '^\\^,\\*,127.0.0.1,' && exit 0
        sleep 0.5
    done
    exit 1"

# The device: quorvel-sim inside, as a unit of the container's systemd (so that it ends with the
# container), at real-time priority where that is allowed (it stands for a device, whose timing
# does not suffer from this machine's load); its pseudo-terminal linked as /dev/ttyUSB0.
start_sim() { # start_sim <unit> <options...>: echoes the pseudo-terminal's path
    local unit=$1 path=""
    shift
    # shellcheck disable=SC2016 # the unit's shell expands them
    inside systemd-run --quiet --unit="$unit" -p StandardOutput="file:/run/$unit.path" \
        -p StandardError="file:/run/$unit.err" /bin/sh -c \
        'chrt -f 10 true 2>/dev/null && exec chrt -f 10 /usr/local/bin/quorvel-sim "$@"
         exec /usr/local/bin/quorvel-sim "$@"' sh "$@"
    for _ in $(seq 100); do
        path=$(inside head -n 1 "/run/$unit.path" 2>/dev/null || true)
        [ -n "$path" ] && break
        sleep 0.05
    done
    echo "$path"
}
device=$(start_sim quorvel-test-device --delay 130ms --jitter 3ms)
inside ln -sfn "$device" /dev/ttyUSB0
check "quorvel-sim --delay 130ms --jitter 3ms on $device, linked as /dev/ttyUSB0" \
    test -n "$device" -a "$(inside readlink /dev/ttyUSB0)" = "$device"

# shellcheck disable=SC2016 # dpkg-query's fields
installed_packages() { inside dpkg-query -W -f='${db:Status-Abbrev} ${Package}:${Architecture}\n' | awk '$1 == "ii" { print $2 }' | sort; }
installed_packages >"$work/before"
chrony_started() { inside systemctl show -P ActiveEnterTimestampMonotonic chrony.service; }
chrony_before=$(chrony_started)

inside_debs=()
for deb in "${debs[@]}"; do inside_debs+=("/root/debs/${deb##*/}"); done
echo "== apt-get install ${debs[*]##*/} (in the container, services allowed to start)"
installing=$SECONDS
if ! inside env DEBIAN_FRONTEND=noninteractive apt-get install -y -q -o Acquire::Retries=0 \
    "${inside_debs[@]}" >"$work/install.log" 2>&1; then
    tail -n 30 "$work/install.log"
    failed=$((failed + 1))
    echo "FAILED: apt-get install"
    echo "$passed passed, $failed failed"
    exit 1
fi
echo "installed in $((SECONDS - installing)) s"
check "apt-get found everything in the container (nothing downloaded)" \
    bash -c "! grep -qE '^(Get|Err|Ign):[0-9]+ [a-z]+://' '$work/install.log'"
version=$(inside dpkg-query -W -f="\${Version}" quorvel)
inside dpkg -L "${packages[@]}" | sort -u >"$work/files"
shipped_settings=$work/settings
dpkg-deb --fsys-tarfile "$(printf '%s\n' "${debs[@]}" | grep '/quorvel-refclock_')" |
    tar -xO ./etc/default/quorvel-refclock >"$shipped_settings"

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
    check "installed $file" test -f "$root$file"
done
check "no simulator, screenshot or test program in the package" \
    bash -c "! grep -E '/(quorvel-(sim|screenshot)|fake-|tst_|bench_)' '$work/files'"
check "the installed quorvel is the one on PATH" test "$(inside sh -c 'command -v quorvel')" = /usr/bin/quorvel
check "quorvel --version says $version" \
    test "$(inside env QT_QPA_PLATFORM=offscreen quorvel --version 2>/dev/null)" = "quorvel $version"
check "man finds quorvel(1)" test "$(inside man -w quorvel)" = /usr/share/man/man1/quorvel.1.gz
check "desktop-file-validate passes" \
    bash -c "out=\$(desktop-file-validate '$root/usr/share/applications/$appid.desktop' 2>&1) && [ -z \"\$out\" ] || { echo \"\$out\"; false; }"
check "appstreamcli validate passes" \
    appstreamcli validate --no-net "$root/usr/share/metainfo/$appid.metainfo.xml"
check "the menu entry starts quorvel with its icon" bash -c \
    "grep -qx 'Exec=quorvel' '$root/usr/share/applications/$appid.desktop' && grep -qx 'Icon=$appid' '$root/usr/share/applications/$appid.desktop'"

# quorvel-refclock: its unit enabled and started by the installation, chrony restarted.
unit=$root/lib/systemd/system/quorvel-refclock.service
refclock_socket=/run/chrony.quorvel.sock
# shellcheck disable=SC2016 # the unit's own variable, not the shell's
check "refclock unit starts the installed program" \
    grep -qx 'ExecStart=/usr/bin/quorvel-refclock $QUORVEL_REFCLOCK_OPTS' "$unit"
check "refclock unit enabled (systemctl is-enabled)" \
    test "$(inside systemctl is-enabled quorvel-refclock.service 2>&1)" = enabled
check "refclock unit wanted by multi-user.target" \
    test -L "$root/etc/systemd/system/multi-user.target.wants/quorvel-refclock.service"
check "refclock unit started by the installation (systemctl is-active)" \
    test "$(inside systemctl is-active quorvel-refclock.service 2>&1)" = active
check "the settings are conffiles" bash -c "
    conffiles=\$(nsenter -t $leader -a -- dpkg-query -W -f='\${Conffiles}' quorvel-refclock)
    grep -q ' /etc/chrony/conf.d/quorvel.conf ' <<<\"\$conffiles\" &&
    grep -q ' /etc/default/quorvel-refclock ' <<<\"\$conffiles\""
check "quorvel.conf: one refclock line on $refclock_socket, with no offset of its own" bash -c "
    conf='$root/etc/chrony/conf.d/quorvel.conf'
    [ \"\$(grep -c '^refclock ' \"\$conf\")\" = 1 ] &&
    grep -q '^refclock SOCK $refclock_socket ' \"\$conf\" &&
    ! grep '^refclock ' \"\$conf\" | grep -qw offset"
check "quorvel.conf: serving the network is one line to uncomment" bash -c "
    grep -q '^#allow ' '$root/etc/chrony/conf.d/quorvel.conf' && ! grep -q '^allow' '$root/etc/chrony/conf.d/quorvel.conf'"
check "the installation restarted chrony" test "$(chrony_started)" != "$chrony_before"
check "chrony active after the installation" test "$(inside systemctl is-active chrony.service)" = active
chronyd_count=$(chronyds_guarded || echo unguarded)
check "every chronyd still runs with -x and no CAP_SYS_TIME ($chronyd_count processes)" test "$chronyd_count" -ge 2
[ "$chronyd_count" != unguarded ] || exit 1
refid=$(sed -n 's/^refclock .* refid \([^ ]*\).*/\1/p' "$root/etc/chrony/conf.d/quorvel.conf")
chrony_main=$(inside systemctl show -P MainPID chrony.service)
chrony_pid=""
for pid in $(in_container pgrep -x chronyd); do
    [ "$(awk '/^NSpid:/ { print $NF }' "/proc/$pid/status")" = "$chrony_main" ] && chrony_pid=$pid
done
check "chrony's chronyd has dropped root" bash -c \
    "[ -n '$chrony_pid' ] && ! grep -qE '^Uid:.*\b0\b' /proc/$chrony_pid/status"
# shellcheck disable=SC2016 # awk's fields
check "chrony listens on the installed line's socket $refclock_socket" \
    awk -v path="$refclock_socket" '$NF == path { found = 1 } END { exit !found }' "/proc/${chrony_pid:-0}/net/unix"
# shellcheck disable=SC1091 # the installed settings, read as the unit reads them
options=$(. "$root/etc/default/quorvel-refclock" && echo "$QUORVEL_REFCLOCK_OPTS")
check "the installed settings name the port /dev/ttyUSB0 ($options)" grep -qE -- '--port[= ]/dev/ttyUSB0( |$)' <<<"$options"
check "chrony lists the device ($refid) among its sources" bash -c \
    "nsenter -t $leader -a -- chronyc -c sources | grep -q '^#,.,$refid,'"
check "quorvel-refclock --help runs" bash -c "nsenter -t $leader -a -- quorvel-refclock --help >/dev/null"

# The service as systemd runs it: no capability at all, no new privileges.
service_pid=$(inside systemctl show -P MainPID quorvel-refclock.service)
host_pid=""
for pid in $(in_container pgrep -x quorvel-refcloc); do # the name as the kernel keeps it
    [ "$(awk '/^NSpid:/ { print $NF }' "/proc/$pid/status")" = "$service_pid" ] && host_pid=$pid
done
capabilities=$(grep -E '^(CapEff|CapBnd|CapPrm|CapAmb|NoNewPrivs):' "/proc/${host_pid:-0}/status" 2>/dev/null | tr '\t\n' '  ')
check "quorvel-refclock (pid $service_pid) runs with no capability (${capabilities:-no /proc entry})" bash -c "
    [ -n '$host_pid' ] && [ \"\$(readlink /proc/$host_pid/exe)\" = '$root/usr/bin/quorvel-refclock' -o \
        \"\$(readlink /proc/$host_pid/exe)\" = /usr/bin/quorvel-refclock ] &&
    grep -qx 'CapEff:.0000000000000000' /proc/$host_pid/status &&
    grep -qx 'CapBnd:.0000000000000000' /proc/$host_pid/status &&
    grep -qx 'CapPrm:.0000000000000000' /proc/$host_pid/status &&
    grep -qx 'NoNewPrivs:.1' /proc/$host_pid/status"
check "quorvel-refclock reads /dev/ttyUSB0 ($device)" bash -c \
    "readlink /proc/${host_pid:-0}/fd/* 2>/dev/null | grep -qx '$device'"

# The -dbgsym packages: for each stripped program, its debugging information under its build id.
for binary in /usr/bin/quorvel /usr/bin/quorvel-refclock; do
    id=$(readelf -n "$root$binary" 2>/dev/null | sed -n 's/^ *Build ID: //p')
    debug=/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug
    check "$binary stripped, its debugging information in $debug" bash -c "
        [ -n '$id' ] && ! readelf -S '$root$binary' 2>/dev/null | grep -q '\.debug_info' &&
        readelf -S '$root$debug' 2>/dev/null | grep -q '\.debug_info' &&
        [ \"\$(readelf -n '$root$debug' 2>/dev/null | sed -n 's/^ *Build ID: //p')\" = '$id' ]"
done

# A window run: the installed quorvel, offscreen, logging each frame it shows (the category
# quorvel.frames); the frames must be those of the run, of the device's clock.
shown_frame() { # shown_frame <log> <first> <last> <offset>: a frame shown dated in the range
    local time date when
    while IFS=',' read -r time date _; do
        when=$(date -d "${date:6:4}-${date:0:2}-${date:3:2} $time" +%s 2>/dev/null) || continue
        if [ "$when" -ge $(($2 + $4 - 1)) ] && [ "$when" -le $(($3 + $4 + 1)) ]; then
            echo "$time,$date"
            return 0
        fi
    done < <(sed -n 's/^.*frame shown: //p' "$1")
}
run_window() { # run_window <device> <log> <seconds>: echoes whether it opened the device itself
    local window opened=no
    inside env QUORVEL_COM1="$1" QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES=quorvel.frames.info=true \
        /usr/bin/quorvel 2>"$2" &
    window=$!
    sleep "$3"
    local pid
    for pid in $(in_container pgrep -x quorvel); do
        readlink /proc/"$pid"/fd/* 2>/dev/null | grep -qx "$1" && opened=yes
        kill -TERM "$pid"
    done
    local status=0
    wait "$window" || status=$?
    echo "$opened $status"
}

echo "== The installed quorvel on quorvel-sim --offset 3d"
other=$(start_sim quorvel-test-other --offset 3d)
start=$(date +%s)
read -r opened status < <(run_window "$other" "$work/quorvel.err" 3)
end=$(date +%s)
check "quorvel opened the simulator's line $other" test "$opened" = yes
check "quorvel ends with status 0 on SIGTERM after 3 s (got $status)" test "$status" -eq 0
shown=$(shown_frame "$work/quorvel.err" "$start" "$end" 259200)
check "the window showed a frame of the device (${shown:-none} of $(grep -c 'frame shown: ' "$work/quorvel.err") shown)" \
    test -n "$shown"
inside systemctl stop quorvel-test-other

echo "== The installed window on /dev/ttyUSB0, read through the service"
start=$(date +%s)
read -r opened status < <(run_window /dev/ttyUSB0 "$work/shared.err" 4)
end=$(date +%s)
frames=$(shown_frame "$work/shared.err" "$start" "$end" 0)
check "the installed window shows the device's frames through the service (${frames:-none})" \
    test -n "$frames" -a "$opened" = no

# chrony's view of the device (chronyc -c sourcestats: its estimated offset, in seconds, from
# this clock, which no chronyd steers) and whether it uses it: selected ("*") or combined with
# the selected source ("+"), which chrony may keep when the two agree (stratum and distance).
device_offset() {
    inside chronyc -c sourcestats | awk -F, -v id="$refid" '$1 == id && $3 > 0 { print $7 }'
}
device_state() {
    inside chronyc -c sources | awk -F, -v id="$refid" '$1 == "#" && $3 == id { print $2 }'
}
calibration=/var/lib/quorvel-refclock/calibration
calibration_value() { sed -n "s/^$1=//p" "$root$calibration" 2>/dev/null || true; }
echo "== Self-calibration, with no command: at least 60 frames, waiting up to $calibration_wait s"
# Polled each second; which source chrony follows meanwhile is counted after the first 15 s
# (chrony was restarted by the installation), and reported every 15 s.
calibrating=$SECONDS
report=$SECONDS
followed_other=""
while [ $((SECONDS - calibrating)) -lt "$calibration_wait" ]; do
    [ "$(calibration_value device)" = /dev/ttyUSB0 ] && break
    following=$(inside chronyc -c sources | awk -F, '$2 == "*" { print $3 }')
    if [ $((SECONDS - calibrating)) -ge 15 ] && [ "$following" != 127.0.0.1 ]; then
        followed_other+="${following:-nothing}@$((SECONDS - calibrating))s "
    fi
    if [ "$SECONDS" -ge "$report" ]; then
        echo "  $((SECONDS - calibrating)) s: chrony follows ${following:-nothing}; $(inside quorvel-refclock --status 2>/dev/null | grep '^Retraso:' || echo 'no answer from --status')"
        report=$((report + 15))
    fi
    sleep 1
done
echo "self-calibration took about $((SECONDS - calibrating)) s: $(tr '\n' ' ' 2>/dev/null <"$root$calibration" || true)"
check "chrony followed the second chronyd while the service calibrated${followed_other:+ (not at: $followed_other)}" \
    test -z "$followed_other"
check "the service saved its calibration in $calibration for /dev/ttyUSB0" \
    test "$(calibration_value device)" = /dev/ttyUSB0
delay=$(calibration_value delay)
check "the measured delay (${delay:-none} s) is the simulated 130 ms plus up to 3 ms" \
    awk -v d="$delay" 'BEGIN { exit !(d != "" && d >= 0.128 && d <= 0.135) }'
check "the calibration says when, against what, from how many frames (at least 60) and their spread" bash -c "
    [ -f '$root$calibration' ] && grep -qE '^measured=[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z\$' '$root$calibration' &&
    grep -qE '^against=.+' '$root$calibration' &&
    [ \"\$(sed -n 's/^frames=//p' '$root$calibration')\" -ge 60 ] &&
    grep -qE '^spread=[0-9.]+\$' '$root$calibration'"
# chrony may keep preferring the server on loopback, whose distance is far smaller than any
# serial device's: the device then stands as a candidate not combined ("-") rather than
# selected ("*") or combined ("+"). Any of the three means chrony takes its samples as true.
state=""
for _ in $(seq 120); do
    state=$(device_state)
    { [ "$state" = "*" ] || [ "$state" = + ]; } && break
    sleep 0.5
done
check "chrony then takes the device as a source ($refid: \"${state:-not listed}\"), with no restart" \
    test "$state" = "*" -o "$state" = + -o "$state" = -
sleep 8
estimate=$(device_offset)
echo "chrony's estimate of the calibrated device: ${estimate:-none} s"
check "chrony's estimate of the calibrated device within 1 ms of zero (${estimate:-none} s)" \
    awk -v e="$estimate" 'BEGIN { exit !(e != "" && e < 0.001 && e > -0.001) }'
status=0
inside quorvel-refclock --status >"$work/status" 2>&1 || status=$?
cat "$work/status"
check "--status answers (status $status)" test "$status" -eq 0
check "--status: Dispositivo: /dev/ttyUSB0" grep -q '^Dispositivo:.*/dev/ttyUSB0' "$work/status"
check "--status: Reloj del dispositivo:" grep -q '^Reloj del dispositivo: ' "$work/status"
# The date as the state has it, or day/month/year.
measured=$(calibration_value measured | cut -c1-10)
day=$(date -d "${measured:-1970-01-01}" +%d/%m/%Y 2>/dev/null || echo none)
check "--status: Retraso: calibrated on the state's date ($measured)" bash -c \
    "grep '^Retraso:' '$work/status' | grep 'calibrado el' | grep -qE '${measured:-none}|$day'"
check "--status: Retraso: the measured delay, in ms or s" bash -c "
    grep '^Retraso:' '$work/status' | tr ',' '.' |
        grep -qE '${delay:-none}|$(awk -v d="${delay:-0}" 'BEGIN { printf "%d", d * 1000 }')(\.[0-9]+)? ?ms'"
check "--status: Retraso: not calibrating any more" bash -c "! grep '^Retraso:' '$work/status' | grep -q calibrando"
check "--status: Muestras:" grep -q '^Muestras: ' "$work/status"
if [ "$(device_state)" = "*" ]; then
    check "--status: chrony: the device selected" bash -c \
        "grep '^chrony:' '$work/status' | grep -i 'selec' | grep -qvi 'no selec'"
else
    check "--status: chrony:" grep -q '^chrony: ' "$work/status"
fi
check "the shipped settings name no delay" bash -c "! grep -E '^QUORVEL_REFCLOCK_OPTS=.*--delay' '$shipped_settings'"

# The service stopped and started again as an administrator would.
inside systemctl stop quorvel-refclock.service
check "quorvel-refclock stops with status 0 on SIGTERM ($(inside systemctl show -P ExecMainStatus quorvel-refclock.service))" \
    test "$(inside systemctl show -P ExecMainStatus quorvel-refclock.service)" = 0 -a \
    "$(inside systemctl show -P Result quorvel-refclock.service)" = success
status=0
inside quorvel-refclock --status >/dev/null 2>&1 || status=$?
check "--status exits 1 when no service answers (status $status)" test "$status" -eq 1
inside systemctl start quorvel-refclock.service
check "the service starts again" test "$(inside systemctl is-active quorvel-refclock.service)" = active
sleep 3
check "... calibrated by its state, not calibrating anew" bash -c \
    "nsenter -t $leader -a -- quorvel-refclock --status 2>/dev/null | grep '^Retraso:' | grep -v calibrando | grep -q 'calibrado el'"
check "/etc/default/quorvel-refclock is unchanged, byte for byte" cmp "$shipped_settings" "$root/etc/default/quorvel-refclock"
chronyd_count=$(chronyds_guarded || echo unguarded)
check "every chronyd ran with -x and no CAP_SYS_TIME to the end ($chronyd_count processes)" test "$chronyd_count" -ge 2

echo "== apt-get remove --purge ${packages[*]}"
chrony_before=$(chrony_started)
inside env DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y -q "${packages[@]}" >"$work/remove.log" 2>&1 ||
    cat "$work/remove.log"
for package in "${packages[@]}"; do
    check "$package is purged" bash -c \
        "! nsenter -t $leader -a -- dpkg-query -W -f='\${Status}' $package 2>/dev/null | grep -qv not-installed"
done
check "purge stopped the service" bash -c "
    [ \"\$(nsenter -t $leader -a -- systemctl is-active quorvel-refclock.service)\" != active ] &&
    [ -z \"$(in_container pgrep -x quorvel-refcloc)\" ]"
check "purge removed /var/lib/quorvel-refclock" test ! -e "$root/var/lib/quorvel-refclock"
check "the removal restarted chrony" test "$(chrony_started)" != "$chrony_before"
check "chrony runs on after the purge" test "$(inside systemctl is-active chrony.service)" = active
check "chrony no longer has the device" bash -c \
    "nsenter -t $leader -a -- chronyc -c sources >'$work/sources' && ! grep -q ',$refid,' '$work/sources'"
left=""
while IFS= read -r path; do
    if [ -d "$root$path" ]; then
        [ -L "$root$path" ] || continue # directories other packages share
        # The same through a symbolic link, such as /lib on a merged /usr.
        inside dpkg-query -S "$path" >/dev/null 2>&1 && continue
    fi
    [ -e "$root$path" ] || [ -L "$root$path" ] && left+="$path "
done <"$work/files"
for folder in /usr/share/doc/quorvel /usr/share/doc/quorvel-refclock; do
    [ -d "$root$folder" ] && left+="$folder "
done
check "no file of the packages left behind${left:+: $left}" test -z "$left"
check "no enablement of the unit left" bash -c "[ -z \"\$(find '$root/etc/systemd/system' \
    '$root/var/lib/systemd/deb-systemd-helper-enabled' -name 'quorvel-refclock*' 2>/dev/null)\" ]"
added=$(installed_packages | comm -13 "$work/before" - | tr '\n' ' ')
# shellcheck disable=SC2086 # one package name a word
[ -z "$added" ] || inside env DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y -q $added >/dev/null 2>&1
check "apt-get purges what came with the packages ($(wc -w <<<"$added") of them)" diff <(installed_packages) "$work/before"

if [ "$failed" -gt 0 ]; then
    echo "-- the container's journal of quorvel-refclock and chrony:"
    inside journalctl -q --no-pager -u quorvel-refclock -u chrony -u quorvel-test-ntp | tail -n 60
fi
inside systemctl poweroff >/dev/null 2>&1 || true
for _ in $(seq 150); do
    kill -0 "$nspawn" 2>/dev/null || break
    sleep 0.2
done
check "the container powered off" bash -c "! kill -0 $nspawn 2>/dev/null"
echo "install test: $((SECONDS - begun)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
