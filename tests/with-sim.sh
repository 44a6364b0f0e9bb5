#!/usr/bin/env bash
# Runs a host test program next to a simulated register: starts vesklink-sim on a pseudo-terminal
# that the program reaches as COM port 7 (Linux: VESKLINK_COM7; Windows under Wine: the prefix's
# com7 link), tells the program the control folder, and stops the simulator afterwards.
#   with-sim.sh SIM_PROGRAM TEST_PROGRAM [ARGS...]     (a .exe test program runs under Wine)
set -uo pipefail
sim=$1; shift
program=$1; shift
root=$(cd "$(dirname "$0")/.." && pwd)
port=7
control=$(mktemp -d /tmp/vesklink-sim-XXXXXX)
sim_pid=""
trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; rm -rf "$control"' EXIT

if [[ $program == *.exe ]]; then
  export WINEPREFIX="${WINEPREFIX:-$root/build/wine}"
  bash "$root/scripts/wine-prefix.sh" || exit 1
  link="$WINEPREFIX/dosdevices/com$port"
  export VESKLINK_SIM_CONTROL="Z:${control//\//\\}"
  export WINEDEBUG=-all
  run=(wine "$program" "$@")
else
  link="$control/com$port"
  export "VESKLINK_COM$port=$link"
  export VESKLINK_SIM_CONTROL="$control"
  run=("$program" "$@")
fi
export VESKLINK_SIM_PORT=$port
# The Windows side of Wine passes these on to the program it starts.
export WINEDLLOVERRIDES="mscoree,mshtml="

rm -f "$link"
touch "$control/journal" "$control/tape"
"$sim" --link "$link" --control "$control" --tape "$control/tape" \
  </dev/null >"$control/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -e "$link" ] && break; sleep 0.05; done
[ -e "$link" ] || { echo "with-sim: the simulator did not start"; cat "$control/sim.out"; exit 1; }
"${run[@]}"
