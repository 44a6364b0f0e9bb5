#!/usr/bin/env bash
# Builds the add-in package: the four libraries and MANIFEST.XML in one zip, the file a 1C
# configuration stores as an add-in template. The libraries must be built already (make package
# builds them first). The archive is checked before it replaces an earlier one.
#   scripts/package.sh [BUILD_DIR] [OUTPUT.zip]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
out=${2:-$build/vesklink.zip}
libraries=(linux64/bin/vesklink_64.so linux32/bin/vesklink.so win64/bin/vesklink_64.dll win32/bin/vesklink.dll)

for lib in "${libraries[@]}"; do
  [ -f "$build/$lib" ] || { echo "package: $build/$lib is missing (make build-${lib%%/*})" >&2; exit 1; }
done

mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
partial="$out.partial"
stage=$(mktemp -d)
trap 'rm -rf "$stage" "$partial"' EXIT
cp "$root/packaging/MANIFEST.XML" "$stage/"
names=(MANIFEST.XML)
for lib in "${libraries[@]}"; do
  cp "$build/$lib" "$stage/"
  names+=("$(basename "$lib")")
done
# A fresh archive each time: zip would otherwise update an old one and keep its stale entries.
rm -f "$partial"
(cd "$stage" && zip -q -X -D "$partial" "${names[@]}")
python3 "$root/packaging/check-package.py" "$partial"
mv -f "$partial" "$out"
echo "package: $out"
