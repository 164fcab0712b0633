#!/usr/bin/env bash
# Cross-builds Quorvel2.exe (with its icon and version record) and the tests that can run on
# Windows, runs the tests under wine64 in a wine prefix of its own, then makes the installer
# build/windows/Quorvel2-<version>-setup.exe (1.00) and tests it under wine. Exits non-zero when anything
# fails.
#   tools/windows/test.sh
# The Qt for MinGW comes from ../shared/qt-mingw/qt6-mingw-6.4.2.tar.xz beside the project,
# or from QUORVEL_WIN_QT: that archive elsewhere, or a folder where it is unpacked (qt.sh).
# Needs: g++-mingw-w64-x86-64-posix wine64 nsis fonts-liberation2 (tools/install-deps.sh --test).
# Wine always runs without the right to set this machine's clock (tools/windows/wine.sh).
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
here=$root/tools/windows
out=$root/build/windows
build=$out/build
start=$(date +%s)
mkdir -p "$out"

echo "== Windows: Qt for MinGW"
qt=$("$here/qt.sh")
if [ -z "$qt" ]; then
    echo "No Qt for MinGW: neither QUORVEL_WIN_QT nor ../shared/qt-mingw/ holds it." >&2
    exit 1
fi
echo "$qt"

echo "== Windows: cross-build (MinGW-w64)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$here/mingw-w64-x86_64.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake >/dev/null
cmake --build "$build" --parallel "$(nproc)"
built=$(date +%s)

# Windows paths of Unix folders, through wine's drive Z:.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

echo "== Windows: wine prefix"
export WINEPREFIX=$out/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" # no .NET or HTML engine to offer installing
wine=$here/wine.sh
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" wineboot --init >/dev/null 2>&1
    # Wine maps the machine's serial devices onto COM1 and up. The program opens COM1 to COM4
    # only: map those to nothing, so that no test ever reaches a real port. And wine's headless
    # display driver: programs on the Windows platform plugin get windows that nothing shows,
    # with no X server.
    cat >"$out/prefix.reg" <<'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Wine\Ports]
"COM1"=""
"COM2"=""
"COM3"=""
"COM4"=""

[HKEY_CURRENT_USER\Software\Wine\Drivers]
"Graphics"="null"
REG
    "$wine" reg import "$(winpath "$out/prefix.reg")" >/dev/null 2>&1
    "$wine" --server -w
    # Wine applies the port mapping when it starts again.
    "$wine" cmd /c exit >/dev/null 2>&1
    "$wine" --server -w
fi
for n in 1 2 3 4; do
    if [ -e "$WINEPREFIX/dosdevices/com$n" ]; then
        echo "COM$n of the wine prefix is a device of this machine: $(readlink "$WINEPREFIX/dosdevices/com$n")" >&2
        exit 1
    fi
done

# The guard: no wine process, wineserver included, may hold CAP_SYS_TIME (bit 25), whether in
# its bounding set or its effective set.
"$here/check-wine-guard.sh"

# Qt and the MinGW runtime on the search path of the Windows programs; wine hands Unix
# variables named WINEQT_X to them as QT_X. Offscreen, with Liberation 2 as the only fonts.
WINEPATH="$(winpath "$qt/bin");$(winpath /usr/lib/gcc/x86_64-w64-mingw32/12-posix)"
WINEPATH+=";$(winpath /usr/x86_64-w64-mingw32/lib)"
export WINEPATH
export WINEQT_QPA_PLATFORM=offscreen
export WINEQT_FORCE_STDERR_LOGGING=1
export WINEQT_QPA_FONTDIR=$(winpath /usr/share/fonts/truetype/liberation2)
# A zone with summer time, away from UTC, so that the computer's zone is really used.
export TZ=Europe/Madrid
prefix_ready=$(date +%s)

echo "== Windows: tests under wine"
status=0
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" || status=1
"$wine" --server -w
tested=$(date +%s)

echo "== Windows: quorvel-refclock.exe calibrating over SNTP against a local chronyd"
# A chronyd serving this machine's clock on loopback, as the Time service's server would, run
# without the right to set the clock (-x, and CAP_SYS_TIME out of its bounding set, checked).
sntp=$out/sntp
rm -rf "$sntp" && mkdir -p "$sntp/cmd" && chmod 0711 "$sntp"
chown _chrony "$sntp/cmd" 2>/dev/null || true
chmod 0770 "$sntp/cmd"
ntp_port=$((20000 + RANDOM % 20000))
printf '%s\n' "local stratum 1" "bindcmdaddress $sntp/cmd/chronyd.sock" "cmdport 0" \
    "pidfile $sntp/chronyd.pid" "port $ntp_port" "bindaddress 127.0.0.1" "allow 127.0.0.1" \
    >"$sntp/chrony.conf"
setpriv --bounding-set=-sys_time --inh-caps=-sys_time chronyd -x -d -f "$sntp/chrony.conf" \
    >"$sntp/chronyd.log" 2>&1 &
for _ in $(seq 1 50); do [ -S "$sntp/cmd/chronyd.sock" ] && break; sleep 0.2; done
chronyd_pid=$(cat "$sntp/chronyd.pid" 2>/dev/null || true)
caps() { awk -v key="$1:" '$1 == key { print $2 }' "/proc/$chronyd_pid/status" 2>/dev/null; }
if [ -z "$chronyd_pid" ] || [ -z "$(caps CapBnd)" ]; then
    echo "FAIL: chronyd did not come up: $(tr '\n' '|' <"$sntp/chronyd.log")"
    status=1
elif (((16#$(caps CapBnd) >> 25) & 1)) || (((16#$(caps CapEff) >> 25) & 1)); then
    echo "SKIP: chronyd could set the clock (CAP_SYS_TIME not dropped); not asked"
else
    # No device on COM1 in this prefix: it measures the clock, then finds no frames.
    "$wine" "$build/quorvel-refclock.exe" --port=1 --calibrate 10s \
        --sntp-server "127.0.0.1:$ntp_port" >"$sntp/answered.log" 2>&1 || true
    "$wine" "$build/quorvel-refclock.exe" --port=1 --calibrate 10s \
        --sntp-server "127.0.0.1:$((ntp_port + 1))" >"$sntp/silent.log" 2>&1 || true
    if grep -q "frente a 127.0.0.1:$ntp_port por SNTP (reloj del ordenador a " "$sntp/answered.log" &&
        grep -q "No se calibra: sin respuesta SNTP (127.0.0.1:$((ntp_port + 1)): no responde)." \
            "$sntp/silent.log"; then
        echo "PASS: $(tr -d '\r' <"$sntp/answered.log" | head -1)"
    else
        echo "FAIL: $(tr -d '\r' <"$sntp/answered.log" "$sntp/silent.log" | tr '\n' '|')"
        status=1
    fi
fi
[ -n "$chronyd_pid" ] && kill "$chronyd_pid" 2>/dev/null
wait 2>/dev/null || true
"$wine" --server -w

echo "== Windows: installer"
"$here/installer.sh" "$build" "$qt" "$out/Quorvel2-$("$here/version.sh" "$build")-setup.exe" || status=1
"$wine" --server -w # no wine process is left running
installed=$(date +%s)

echo "== Windows: times: build $((built - start)) s, wine prefix $((prefix_ready - built)) s," \
    "tests $((tested - prefix_ready)) s, installer $((installed - tested)) s," \
    "in all $((installed - start)) s"
exit "$status"
