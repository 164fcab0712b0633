#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quorvel.
#
# With a GPS clock device, Quorvel starts on it: on QUORVEL_COM1 when that is set, otherwise
# on the first serial port the system reports (see "Serial ports" in the README). Without one
# (QUORVEL_COM1 unset and no USB or modem serial adapter plugged in), this script starts
# quorvel-sim, a simulated device whose clock runs a few minutes ahead of the computer's, runs
# Quorvel on it, and stops the simulator when Quorvel ends. Built-in ports (ttyS) do not count
# as a device: nearly every computer has one, seldom with anything on it; name one in
# QUORVEL_COM1 to use it.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --parallel "$(nproc)"

# The simulated device's clock is this far ahead of the computer's, so the demo visibly differs.
demo_offset=5m

has_adapter() {
    local port
    for port in /dev/ttyUSB* /dev/ttyACM*; do
        [ -c "$port" ] && return 0
    done
    return 1
}

if [ -n "${QUORVEL_COM1:-}" ] || has_adapter; then
    exec build/quorvel "$@"
fi

output=$(mktemp)
build/quorvel-sim --offset "$demo_offset" >"$output" &
simulator=$!
stop_simulator() {
    kill "$simulator" 2>/dev/null || true
    wait "$simulator" 2>/dev/null || true
    rm -f "$output"
}
trap stop_simulator EXIT
# The simulator prints its device path first.
for _ in $(seq 100); do
    [ -s "$output" ] && break
    kill -0 "$simulator" 2>/dev/null || break
    sleep 0.05
done
device=$(head -n 1 "$output")
if [ -z "$device" ]; then
    echo "quorvel-sim did not start." >&2
    exit 1
fi
echo "No GPS clock device: Quorvel runs on a simulated one ($device) whose clock is" \
    "$demo_offset ahead of this computer's; \"Poner en hora el PC\" would set it so." >&2
echo "For a device on a built-in port: QUORVEL_COM1=/dev/ttyS0 tools/run.sh" >&2
QUORVEL_COM1=$device build/quorvel "$@"
