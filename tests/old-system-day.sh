#!/usr/bin/env bash
# The Linux x86_64 library on an older system. Inside a minimal Debian 11 root (glibc 2.31, its
# own dynamic loader and libgcc_s, none of the build machine's libraries) vesklink-cli loads
# vesklink_64.so and runs the demo day (open, shift, sale, text document, cash in, X report,
# status, close shift) against vesklink-sim started next to it on a pseudo-terminal of the root.
# The root is kept in the user's cache folder (scripts/debian11-root.sh). Its mounts live in a
# private mount namespace: they vanish with it, however the run ends.
#   old-system-day.sh BIN_DIR      exit 77 (skipped) only when the root cannot be made here
set -uo pipefail
bin=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")/.." && pwd)
fail() { echo "FAIL: $*"; exit 1; }

root=$(bash "$here/scripts/debian11-root.sh")
status=$?
if [ $status -eq 77 ]; then
  echo "SKIPPED: no Debian 11 root can be made on this machine; the library was not tried on an older system"
  exit 77
fi
[ $status -eq 0 ] || fail "the Debian 11 root could not be made"
for f in vesklink-cli vesklink-sim vesklink_64.so; do [ -f "$bin/$f" ] || fail "$bin/$f is missing"; done

# Mounted inside the namespace only: a tmpfs for /tmp (the root in the cache stays as made), the
# build's programs read-only on /tmp/vesklink, /proc, and a pseudo-terminal instance of its own.
inside='
  set -e
  mount -t tmpfs tmpfs "$ROOT/tmp"
  mkdir -p "$ROOT/tmp/vesklink" "$ROOT/tmp/home"
  mount --bind -o ro "$BIN" "$ROOT/tmp/vesklink"
  mount -t proc proc "$ROOT/proc"
  mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$ROOT/dev/pts"
  in_root() { chroot "$ROOT" /usr/bin/env -i HOME=/tmp/home PATH=/usr/bin:/bin LANG=C.UTF-8 "$@"; }
  echo "system: Debian $(cat "$ROOT/etc/debian_version"), $(in_root getconf GNU_LIBC_VERSION)"
  in_root /lib64/ld-linux-x86-64.so.2 --list /tmp/vesklink/vesklink_64.so
  in_root /tmp/vesklink/vesklink-cli --lib /tmp/vesklink/vesklink_64.so demo
'
output=$(ROOT="$root" BIN="$bin" unshare --mount --propagation private bash -c "$inside" 2>&1)
status=$?
echo "$output"
grep -q " $root/" /proc/mounts && fail "something is still mounted in $root"
[ $status -eq 0 ] || fail "the day in the Debian 11 root failed (exit $status)"
libc=$(echo "$output" | sed -n 's/^system: .*, glibc \([0-9.]*\)$/\1/p')
[ -n "$libc" ] || fail "the root's glibc version is unknown"
[ "$(printf '%s\n' "$libc" 2.32 | sort -V | head -n1)" = "$libc" ] && [ "$libc" != 2.32 ] ||
  fail "the root's glibc $libc is not older than the versions the library used to need"
echo "$output" | grep -q "libc.so.6 => /lib/x86_64-linux-gnu/libc.so.6" || fail "the library did not bind to the root's libc"
echo "$output" | grep -q "not found" && fail "a library the add-in needs is missing in the root"
echo "ok: vesklink_64.so ran the day on Debian $(cat "$root/etc/debian_version") with glibc $libc"
