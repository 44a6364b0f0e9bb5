#!/usr/bin/env bash
# Builds the add-in package: the four libraries, stripped of their debug information,
# MANIFEST.XML and the driver card INFO.XML (written by the Linux x86_64 build from the driver's
# own description) in one zip, the file a 1C configuration stores as an add-in template or adds
# through its equipment library, and every client downloads. The debug information goes beside
# it into OUTPUT-debug.zip, for reading a crash report: a .debug file for each .so (which names it
# by debug link) and the unstripped DLLs.
# The libraries must be built already (make package builds them first). The archive is checked
# before it replaces an earlier one.
#   scripts/package.sh [BUILD_DIR] [OUTPUT.zip]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
out=${2:-$build/vesklink.zip}
libraries=(linux64/bin/vesklink_64.so linux32/bin/vesklink.so win64/bin/vesklink_64.dll win32/bin/vesklink.dll)

build=$(cd "$build" && pwd)
for lib in "${libraries[@]}" linux64/INFO.XML; do
  [ -f "$build/$lib" ] || { echo "package: $build/$lib is missing (make build-${lib%%/*})" >&2; exit 1; }
done

mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
debug_out="${out%.zip}-debug.zip"
partial="$out.partial"
debug_partial="$debug_out.partial"
stage=$(mktemp -d)
trap 'rm -rf "$stage" "$partial" "$debug_partial"' EXIT
mkdir "$stage/release" "$stage/debug"
cp "$root/packaging/MANIFEST.XML" "$build/linux64/INFO.XML" "$stage/release/"
names=(MANIFEST.XML INFO.XML)
debug_names=()
for lib in "${libraries[@]}"; do
  name=$(basename "$lib")
  case "$name" in
    *.so)
      # The debug file keeps what strip removes; the library names it (and its checksum).
      objcopy --only-keep-debug "$build/$lib" "$stage/debug/$name.debug"
      (cd "$stage/debug" && objcopy --strip-unneeded --add-gnu-debuglink="$name.debug" "$build/$lib" "$stage/release/$name")
      debug_names+=("$name.debug")
      ;;
    *.dll)
      case "$lib" in win64/*) strip=x86_64-w64-mingw32-strip ;; *) strip=i686-w64-mingw32-strip ;; esac
      cp "$build/$lib" "$stage/debug/$name"
      "$strip" --strip-unneeded -o "$stage/release/$name" "$build/$lib"
      debug_names+=("$name")
      ;;
  esac
  names+=("$name")
done
# Fresh archives each time: zip would otherwise update an old one and keep its stale entries.
rm -f "$partial" "$debug_partial"
(cd "$stage/release" && zip -q -X -D "$partial" "${names[@]}")
(cd "$stage/debug" && zip -q -X -D "$debug_partial" "${debug_names[@]}")
python3 "$root/packaging/check-package.py" "$partial"
mv -f "$partial" "$out"
mv -f "$debug_partial" "$debug_out"
echo "package: $out ($(stat -c %s "$out") bytes), debug information: $debug_out ($(stat -c %s "$debug_out") bytes)"
