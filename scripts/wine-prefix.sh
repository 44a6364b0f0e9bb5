#!/usr/bin/env bash
# Prepares the Wine prefix the Windows tests run in: created once, the default COM links removed
# (the tests map their own COM ports to pseudo-terminals), and the user's Documents folder pointed
# at a folder of the prefix so the driver's log lands where the tests look. A new prefix is a copy
# of a pristine one that is made once per Wine version in the user's cache folder, so a fresh
# clone does not wait for Wine to set a prefix up again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$root/build/wine}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  pristine="${XDG_CACHE_HOME:-$HOME/.cache}/vesklink/wine-prefix-$(wine --version | tr -c 'A-Za-z0-9.\n-' _)"
  mkdir -p "$(dirname "$pristine")"
  (
    flock 9
    if [ ! -f "$pristine/system.reg" ]; then
      rm -rf "$pristine.partial"
      mkdir -p "$pristine.partial"
      WINEPREFIX="$pristine.partial" wineboot -i </dev/null >/dev/null 2>&1
      WINEPREFIX="$pristine.partial" wineserver -w
      mv "$pristine.partial" "$pristine"
    fi
  ) 9>"$pristine.lock"
  mkdir -p "$WINEPREFIX"
  cp -a "$pristine/." "$WINEPREFIX/"
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
