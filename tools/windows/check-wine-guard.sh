#!/usr/bin/env bash
# Proves that wine runs without the right to set this machine's clock: starts a Windows
# program through tools/windows/wine.sh that reads its own Unix process status, then reads that
# of the wineserver it ran with. CAP_SYS_TIME (bit 25) must be in neither the bounding nor
# the effective set of either. Needs WINEPREFIX (an existing wine prefix). Exits non-zero, and
# says why, when the guard cannot be proven.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
readonly sys_time_bit=$((1 << 25))

# Fails unless the capability sets in the status text on stdin lack CAP_SYS_TIME.
lacks_sys_time() {
    local who=$1 text found=0 name value
    text=$(cat)
    for name in CapBnd CapEff CapPrm; do
        value=$(printf '%s\n' "$text" | tr -d '\r' | sed -n "s/^$name:[[:space:]]*//p")
        if [ -z "$value" ]; then
            echo "wine guard: no $name in the status of $who" >&2
            return 1
        fi
        if (((16#$value & sys_time_bit) != 0)); then
            echo "wine guard: $who holds CAP_SYS_TIME in $name ($value)" >&2
            return 1
        fi
        found=$((found + 1))
    done
    [ "$found" -eq 3 ]
}

# A Windows process: cmd.exe reads its own status through drive Z:.
status=$("$here/wine.sh" cmd /c 'type Z:\proc\self\status' 2>/dev/null)
lacks_sys_time "a Windows process (cmd.exe)" <<<"$status"

# The wineserver of this prefix, which stays a few seconds after its last client: the one
# whose working folder is the prefix's server folder (named after the prefix's device and
# inode numbers).
server_dir=$(printf 'server-%x-%x' "0x$(stat -c %D "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")
server=""
for pid in $(pgrep -x 'wineserver64|wineserver' || true); do
    if [ "$(basename "$(readlink "/proc/$pid/cwd" 2>/dev/null)")" = "$server_dir" ]; then
        server=$pid
    fi
done
if [ -z "$server" ]; then
    echo "wine guard: the wineserver of $WINEPREFIX was not found" >&2
    exit 1
fi
lacks_sys_time "wineserver (pid $server)" <"/proc/$server/status"

# This shell, for the record: the guard matters when it holds the right itself.
if lacks_sys_time "this shell" </proc/self/status 2>/dev/null; then
    echo "wine guard: proven (this shell lacks CAP_SYS_TIME too)"
else
    echo "wine guard: proven (this shell holds CAP_SYS_TIME; wine does not)"
fi
