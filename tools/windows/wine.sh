#!/usr/bin/env bash
# Runs a Windows program under wine64 without the right to set this machine's clock.
#   tools/windows/wine.sh PROGRAM.exe [ARGUMENTS...]
#   tools/windows/wine.sh --server ARGUMENTS...    (runs wineserver instead, e.g. -k, -w, -p)
# Under wine, SetSystemTime sets the clock of the machine wine runs on. Every wine process is
# therefore started with CAP_SYS_TIME dropped from its bounding, inheritable and so effective
# capability sets (setpriv); the processes it starts, wineserver included, inherit that. This
# script refuses to run wine when setpriv is missing, and when WINEPREFIX is not set (so that
# no test ever creates or uses a wine prefix in the home folder).
set -euo pipefail

WINE64=${QUORVEL_WINE64:-/usr/lib/wine/wine64}
WINESERVER=${QUORVEL_WINESERVER:-/usr/lib/wine/wineserver64}

if ! command -v setpriv >/dev/null 2>&1; then
    echo "wine.sh: setpriv (util-linux) is missing; refusing to run wine with the right to" \
        "set this machine's clock." >&2
    exit 125
fi
if [ -z "${WINEPREFIX:-}" ]; then
    echo "wine.sh: WINEPREFIX is not set; refusing to run wine in the home folder's prefix." >&2
    exit 125
fi

program=$WINE64
if [ "${1:-}" = "--server" ]; then
    shift
    program=$WINESERVER
fi
exec setpriv --bounding-set=-sys_time --inh-caps=-sys_time -- "$program" "$@"
