#!/usr/bin/env bash
# Prepares the Wine prefix the Windows tests run in: created once, the default COM links removed
# (the tests map their own COM ports to pseudo-terminals), and the user's Documents folder pointed
# at a folder of the prefix so the driver's log lands where the tests look.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$root/build/wine}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i </dev/null >/dev/null 2>&1
  wineserver -w
fi
users="$WINEPREFIX/drive_c/users/$(id -un)"
docs="$WINEPREFIX/documents"
mkdir -p "$docs" "$users"
if [ "$(readlink "$users/Documents" 2>/dev/null)" != "$docs" ]; then
  rm -rf "$users/Documents"
  ln -s "$docs" "$users/Documents"
fi
rm -f "$WINEPREFIX"/dosdevices/com[0-9]*
# Keep one wineserver (and the prefix's services) running for the whole test run, detached from
# the caller's output: Wine's background processes would otherwise hold a pipe open after the
# tests end.
wineserver -p </dev/null >/dev/null 2>&1 || true  # already running is fine
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
