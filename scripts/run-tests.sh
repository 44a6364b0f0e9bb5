#!/usr/bin/env bash
# Builds each target and runs its tests: Linux x86_64 and i386 natively, both Windows builds under
# Wine (one wineserver kept for the whole run), and the sanitizer build; once all four libraries
# are built, the add-in package is made and checked. Prints how long each target's build and tests
# took, a table of them at the end, and one summary line.
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
timings=()
now() { date +%s.%N; }
took() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.0f", b - a }'; }
# ", ccache: H of N compiles served from the cache" for a build's statistics log.
cache_hits() {
  [ -f "$1" ] && command -v ccache >/dev/null || return 0
  CCACHE_STATSLOG="$1" ccache --show-log-stats 2>/dev/null |
    awk '$1 == "Hits:" && !done { printf ", ccache: %s of %s compiles served from the cache", $2, $4; done = 1 }'
}
run_start=$(now)
for t in "${targets[@]}"; do
  echo "=== $t: build"
  start=$(now)
  # The compiler cache's counters of this build alone (CMakeLists.txt compiles through ccache).
  stats="$root/build/$t.ccache-stats"
  mkdir -p "$root/build"
  rm -f "$stats"
  if ! CCACHE_STATSLOG="$stats" make -s -C "$root" "build-$t"; then
    echo "=== $t: BUILD FAILED after $(took "$start") s"
    timings+=("$(printf '%-8s build %5s s  FAILED' "$t" "$(took "$start")")")
    failed=$((failed + 1))
    continue
  fi
  build_s=$(took "$start")
  echo "=== $t: built in $build_s s$(cache_hits "$stats")"
  built+="$t "
  start=$(now)
  if [[ $t == win* ]]; then
    bash "$root/scripts/wine-prefix.sh" || { echo "=== $t: no Wine prefix"; failed=$((failed + 1)); continue; }
  fi
  echo "=== $t: test"
  # Two tests at a time where they share nothing: most of them wait on a line far more than they
  # compute. Under Wine they share the prefix's COM ports and run one after another.
  parallel=2
  [[ $t == win* ]] && parallel=1
  if (cd "$root/build/$t" && ctest --output-on-failure --timeout 600 -j "$parallel"); then
    result=passed
    passed=$((passed + 1))
  else
    result=FAILED
    failed=$((failed + 1))
  fi
  test_s=$(took "$start")
  echo "=== $t: tests $result in $test_s s"
  timings+=("$(printf '%-8s build %5s s  tests %5s s  %s' "$t" "$build_s" "$test_s" "$result")")
  # ctest names a skipped test without its output: show why it could not run.
  grep -h '^SKIPPED: ' "$root/build/$t/Testing/Temporary/LastTest.log" 2>/dev/null | sed "s/^/=== $t: /"
done
if [[ $built == *" linux64 "* && $built == *" linux32 "* && $built == *" win64 "* && $built == *" win32 "* ]]; then
  echo "=== package"
  start=$(now)
  if bash "$root/scripts/package.sh" "$root/build" "$root/build/vesklink.zip"; then
    result=passed
    passed=$((passed + 1))
  else
    result=FAILED
    failed=$((failed + 1))
  fi
  timings+=("$(printf '%-8s %27s s  %s' package "$(took "$start")" "$result")")
fi
echo "=== timings"
printf '%s\n' "${timings[@]}"
echo "all: $(took "$run_start") s"
echo "targets: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
