#!/usr/bin/env bash
# Runs one Windows program under Wine in the project's prefix (used by CTest for the Windows builds).
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$root/build/wine}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || bash "$root/scripts/wine-prefix.sh"
exec wine "$@"
