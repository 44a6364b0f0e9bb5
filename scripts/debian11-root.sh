#!/usr/bin/env bash
# Makes a minimal Debian 11 system (glibc 2.31) with debootstrap, from the archive the machine's
# own apt sources name, and keeps it in the user's cache folder for later runs. Prints the root's
# folder. Exit status 77 when the archive cannot be reached (no network) or debootstrap cannot
# be run here, so that a test can tell "cannot be made here" from "made wrongly" (1).
#   scripts/debian11-root.sh      (VESKLINK_DEBIAN11_ROOT overrides the folder)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
root=${VESKLINK_DEBIAN11_ROOT:-${XDG_CACHE_HOME:-$HOME/.cache}/vesklink/debian11-root}
suite=bullseye

if [ -f "$root/.complete" ]; then
  echo "$root"
  exit 0
fi
cannot() { echo "debian11-root: $*" >&2; exit 77; }
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  sudo -n true 2>/dev/null || cannot "debootstrap needs root (or sudo without a password)"
  SUDO="sudo -n"
fi
command -v debootstrap >/dev/null || PATH=$PATH:/usr/sbin:/sbin
command -v debootstrap >/dev/null || cannot "debootstrap is not installed (make deps)"

# shellcheck source=apt-sources.sh
. "$here/scripts/apt-sources.sh"
sources=$(mktemp -d)
trap 'rm -rf "$sources"' EXIT
apt_private "$sources" deb "$suite"
mirror=$(apt_private_mirror "$sources")
[ -n "$mirror" ] || cannot "no Debian archive among the machine's apt sources"
wget -q -T 20 -t 2 -O /dev/null "$mirror/dists/$suite/Release" || cannot "the Debian archive cannot be reached"

mkdir -p "$(dirname "$root")"
# Builds of other work trees share the root: one makes it while the others wait.
exec 9>"$root.lock"
flock 9
if [ -f "$root/.complete" ]; then
  echo "$root"
  exit 0
fi
partial="$root.partial"
# A run that stopped half-way leaves its partial root; never follow a mount out of it.
[ -e "$partial" ] && $SUDO rm -rf --one-file-system "$partial"
log="$root.log"
echo "debian11-root: making $root with debootstrap (about two minutes)" >&2
if ! $SUDO debootstrap --variant=minbase "$suite" "$partial" "$mirror" >"$log" 2>&1; then
  tail -n 20 "$log" >&2
  echo "debian11-root: debootstrap failed (log: $log)" >&2
  exit 1
fi
$SUDO touch "$partial/.complete"
$SUDO mv "$partial" "$root"
echo "$root"
