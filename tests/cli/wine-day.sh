#!/usr/bin/env bash
# vesklink-cli.exe under Wine runs a short day at a till (Open, OpenShift, a sale, CloseShift,
# Close) against the simulator, which with-sim.sh links to the prefix's COM7; the transcript must
# show every call succeed, the receipt's document come back and the register count the sale.
#   wine-day.sh SIM_PROGRAM VESKLINK_CLI_EXE SCRIPT
set -uo pipefail
sim=$1 cli=$2 script=$3
root=$(cd "$(dirname "$0")/../.." && pwd)
[ -x "$sim" ] || { echo "wine-day: no simulator at $sim (build linux64 first)"; exit 1; }
transcript=$(bash "$root/tests/with-sim.sh" "$sim" "$cli" --port 7 run "$script" 2>&1)
status=$?
printf '%s\n' "$transcript"
fail() { echo "FAIL: $*"; exit 1; }
[ "$status" -eq 0 ] || fail "vesklink-cli.exe exited with $status"
expect() { [[ $transcript == *"$1"* ]] || fail "the transcript lacks: $1"; }
expect $'> Open out\nresult: true\n'
expect 'ShiftNumber="1" ShiftState="2"'
expect $'<DocumentOutputParameters>\n\t<Parameters ShiftNumber="1" '
# The closing report counts the one sale of 91.00, and the cash it brought.
expect $'> CloseShift s: s: out\nresult: true\n'
expect 'CashBalance="91"'
expect '<CountersOperationType1 CheckCount="1" TotalChecksAmount="91" '
expect $'> Close out\nresult: true\n'
echo "ok: the day ran through COM7 under Wine"
