#!/usr/bin/env bash
# Installs the Debian packages the project needs and unpacks the pugixml source package for the
# builds. Idempotent: packages already present are not reinstalled, and the pugixml source and the
# Debian 11 sysroot are fetched only once.
#   scripts/install-deps.sh        everything: all targets, the tests, the fuzzing and the package
#   scripts/install-deps.sh demo   only what the Linux x86_64 build of the library, vesklink-sim
#                                  and vesklink-cli need (make demo)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
scope=${1:-all}
case $scope in demo | all) ;; *) echo "usage: install-deps.sh [demo|all]" >&2; exit 2 ;; esac

# The Linux x86_64 build of the library, the simulator and vesklink-cli (dpkg-dev, in
# build-essential, unpacks the pugixml source).
demo_packages=(build-essential cmake ccache)
# The other targets (Linux i386, both Windows builds and Wine to run their tests, the fuzzing with
# clang), the tests and their tools, the old-system day and the package.
rest_packages=(
  pkg-config g++-multilib gcc-multilib
  debootstrap debian-archive-keyring gpgv
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64
  wine wine64 wine32:i386
  googletest locales zip unzip file python3
  clang libclang-rt-dev
)
packages=("${demo_packages[@]}")
[ "$scope" = demo ] || packages+=("${rest_packages[@]}")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

# Wine's 32-bit half comes from the i386 architecture.
if [ "$scope" = all ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
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

# The downloaded sources (pugixml and the Debian 11 sysroot) are kept once for the user, outside
# the work tree: a fresh clone links .deps to them instead of fetching them again. Clones that
# install at the same time take turns.
src_root="$here/.deps"
if [ ! -e "$src_root" ]; then
  shared="${XDG_CACHE_HOME:-$HOME/.cache}/vesklink/deps"
  mkdir -p "$shared"
  rm -f "$src_root"  # a link whose folder is gone
  ln -s "$shared" "$src_root"
fi
exec 8>"$src_root/.lock"
flock 8

# pugixml: the Debian source package, built by CMake for every target in the same configuration.
# A private apt configuration adds deb-src entries derived from the machine's own sources, so the
# system's apt configuration stays untouched.
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
  echo "install-deps: pugixml source in $src_root/pugixml"
fi
# The Debian 11 sysroot the Linux builds link against (glibc floor of the add-in libraries).
bash "$here/scripts/sysroot.sh"
exec 8>&-
# A comma-decimal locale, so the tests can check that no number the driver writes follows it.
if [ "$scope" = all ] && ! locale -a 2>/dev/null | grep -qi '^ru_RU.utf8$'; then
  $SUDO localedef -i ru_RU -f UTF-8 ru_RU.UTF-8 >/dev/null 2>&1 || echo "install-deps: ru_RU.UTF-8 not generated"
fi
[ "$scope" = demo ] && echo "install-deps: ready for the demo" || echo "install-deps: ready"
