#!/usr/bin/env bash
# Makes the Debian 11 sysroot the Linux libraries are built against, so that every symbol they
# take from the C library binds to a version that the older systems 1C clients run on (glibc 2.28
# and later) provide. The C library, its headers, the kernel headers and the unwinder library
# (libgcc_s) of Debian 11, amd64 and i386, are downloaded through a private apt configuration
# and unpacked side by side, as a multiarch system lays them out. Run once by install-deps.sh;
# a finished sysroot is kept.
#   scripts/sysroot.sh [DIR]      (default: .deps/sysroot)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dest=${1:-$here/.deps/sysroot}
suite=bullseye
packages=(libc6 libc6-dev linux-libc-dev libgcc-s1)

# A finished sysroot records what it was made of; a changed package list makes it again.
stamp="$suite: ${packages[*]}"
[ -f "$dest/.complete" ] && [ "$(head -n1 "$dest/.complete")" = "$stamp" ] && exit 0

# shellcheck source=apt-sources.sh
. "$here/scripts/apt-sources.sh"
work="$dest.work"
rm -rf "$work" "$dest"
apt_private "$work/apt" deb "$suite"
[ -n "$(apt_private_mirror "$work/apt")" ] || {
  echo "sysroot: the machine's apt sources name no Debian release suite to derive $suite from" >&2
  exit 1
}
aptopts+=(-o "APT::Architectures::=amd64" -o "APT::Architectures::=i386")
apt-get "${aptopts[@]}" update -qq
mkdir -p "$work/debs" "$work/root"
wanted=()
for p in "${packages[@]}"; do wanted+=("$p:amd64" "$p:i386"); done
(cd "$work/debs" && apt-get "${aptopts[@]}" download -qq "${wanted[@]}")
for deb in "$work/debs"/*.deb; do dpkg-deb -x "$deb" "$work/root"; done
rm -rf "$work/root/usr/share" "$work/root"/usr/lib/*/gconv

# The packages link their libraries with absolute symbolic links (libm.so -> /lib/.../libm.so.6),
# which inside a sysroot would lead back to the build machine's own, newer libraries.
while IFS= read -r link; do
  target=$(readlink "$link")
  rel=$(realpath -m --relative-to="$(dirname "$link")" "$work/root$target")
  ln -sfn "$rel" "$link"
done < <(find "$work/root" -type l -lname '/*')

for lib in x86_64-linux-gnu i386-linux-gnu; do
  [ -f "$work/root/usr/lib/$lib/libc_nonshared.a" ] && [ -e "$work/root/lib/$lib/libgcc_s.so.1" ] || {
    echo "sysroot: the $lib part is incomplete" >&2
    exit 1
  }
done
{ echo "$stamp"; ls "$work/debs"; } > "$work/root/.complete"
mv "$work/root" "$dest"
rm -rf "$work"
echo "sysroot: $dest ($(cd "$dest" && ls -d usr/lib/*-linux-gnu | xargs -n1 basename | xargs), from $suite)"
