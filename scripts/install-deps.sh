#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need, and unpacks the pugixml
# source package for the cross builds. Idempotent: packages already present are not reinstalled,
# and the pugixml source is fetched only once.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

packages=(
  build-essential cmake make pkg-config dpkg-dev
  g++-multilib gcc-multilib
  debootstrap debian-archive-keyring gpgv
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64
  wine wine64 wine32:i386
  googletest locales zip unzip file python3 ccache
  clang libclang-rt-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need_update=1
fi

if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
  echo "install-deps: installing ${missing[*]:-nothing new}"
  $SUDO apt-get update -qq
  if [ ${#missing[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
fi

# pugixml: the Debian source package, built by CMake for every target in the same configuration.
# A private apt configuration adds deb-src entries derived from the machine's own sources, so the
# system's apt configuration stays untouched.
src_root="$here/.deps"
if [ ! -f "$src_root/pugixml/src/pugixml.cpp" ]; then
  . "$here/scripts/apt-sources.sh"
  apt_private "$src_root/apt" deb-src
  mkdir -p "$src_root/dl"
  apt-get "${aptopts[@]}" update -qq
  (cd "$src_root/dl" && apt-get "${aptopts[@]}" source -qq pugixml >/dev/null)
  dir=$(find "$src_root/dl" -maxdepth 1 -type d -name 'pugixml-*' | head -n1)
  [ -n "$dir" ] || { echo "install-deps: pugixml source not unpacked" >&2; exit 1; }
  rm -rf "$src_root/pugixml"
  mv "$dir" "$src_root/pugixml"
  rm -rf "$src_root/dl"
fi
# The Debian 11 sysroot the Linux builds link against (glibc floor of the add-in libraries).
bash "$here/scripts/sysroot.sh"
# A comma-decimal locale, so the tests can check that no number the driver writes follows it.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU.utf8$'; then
  $SUDO localedef -i ru_RU -f UTF-8 ru_RU.UTF-8 >/dev/null 2>&1 || echo "install-deps: ru_RU.UTF-8 not generated"
fi
echo "install-deps: ready"
