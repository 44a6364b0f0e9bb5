#!/usr/bin/env bash
# Builds the tools archive: vesklink-cli.exe of the Windows x64 build, vesklink-cli and
# vesklink-sim of the Linux x86_64 build (linked against the Debian 11 sysroot, so they run where
# the library runs), all stripped, and packaging/TOOLS-README.txt as README.txt. The programs must
# be built already (make package builds them first). The archive is checked before it replaces an
# earlier one.
#   scripts/package-tools.sh [BUILD_DIR] [OUTPUT.zip]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
out=${2:-$build/vesklink-tools.zip}
programs=(win64/bin/vesklink-cli.exe linux64/bin/vesklink-cli linux64/bin/vesklink-sim)

build=$(cd "$build" && pwd)
for program in "${programs[@]}"; do
  [ -f "$build/$program" ] || { echo "package-tools: $build/$program is missing (make build-${program%%/*})" >&2; exit 1; }
done

mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
partial="$out.partial"
stage=$(mktemp -d)
trap 'rm -rf "$stage" "$partial"' EXIT
for program in "${programs[@]}"; do
  case "$program" in
    win64/*) x86_64-w64-mingw32-strip --strip-all -o "$stage/$(basename "$program")" "$build/$program" ;;
    *) strip --strip-all -o "$stage/$(basename "$program")" "$build/$program" ;;
  esac
done
cp "$root/packaging/TOOLS-README.txt" "$stage/README.txt"
chmod 755 "$stage/vesklink-cli" "$stage/vesklink-sim"
chmod 644 "$stage/vesklink-cli.exe" "$stage/README.txt"
rm -f "$partial"
(cd "$stage" && zip -q -X -D "$partial" README.txt vesklink-cli.exe vesklink-cli vesklink-sim)
python3 "$root/packaging/check-tools.py" "$partial"
mv -f "$partial" "$out"
echo "package-tools: $out ($(stat -c %s "$out") bytes)"
