#!/usr/bin/env bash
# Builds each target and runs its tests: Linux x86_64 and i386 natively, both Windows builds under
# Wine (one wineserver kept for the whole run), and the sanitizer build; once all four libraries
# are built, the add-in package is made and checked. Prints one summary line.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(linux64 linux32 win64 win32 asan)

export WINEPREFIX="$root/build/wine"
export WINEDEBUG=-all
cleanup() { wineserver -k >/dev/null 2>&1 || true; }
trap cleanup EXIT

passed=0
failed=0
built=" "
for t in "${targets[@]}"; do
  echo "=== $t: build"
  if ! make -s -C "$root" "build-$t"; then
    echo "=== $t: BUILD FAILED"
    failed=$((failed + 1))
    continue
  fi
  built+="$t "
  if [[ $t == win* ]]; then
    bash "$root/scripts/wine-prefix.sh" || { echo "=== $t: no Wine prefix"; failed=$((failed + 1)); continue; }
  fi
  echo "=== $t: test"
  if (cd "$root/build/$t" && ctest --output-on-failure --timeout 600); then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
  # ctest names a skipped test without its output: show why it could not run.
  grep -h '^SKIPPED: ' "$root/build/$t/Testing/Temporary/LastTest.log" 2>/dev/null | sed "s/^/=== $t: /"
done
if [[ $built == *" linux64 "* && $built == *" linux32 "* && $built == *" win64 "* && $built == *" win32 "* ]]; then
  echo "=== package"
  if bash "$root/scripts/package.sh" "$root/build" "$root/build/vesklink.zip"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
fi
echo "targets: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
