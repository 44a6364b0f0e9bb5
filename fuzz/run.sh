#!/usr/bin/env bash
# Runs fuzz targets one after another, each for the given seconds, one process at a time.
#   fuzz/run.sh BUILD_DIR SECONDS [TARGET...]      (no TARGET: all of them)
# A target's corpus grows in BUILD_DIR/corpus/TARGET, starting from fuzz/seeds/TARGET (packages
# taken from the tests) and fuzz/regressions/TARGET (inputs that once found a fault, run first).
# An input that breaks the driver is kept in BUILD_DIR/artifacts/TARGET and fails the run. Prints
# per target the executions and libFuzzer's coverage figures (cov: edges reached, ft: features).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1
seconds=$2
shift 2
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(receipt text_document cashier operation_fn reply converters)

status=0
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  artifacts="$build/artifacts/$t"
  log="$build/fuzz-$t.log"
  mkdir -p "$corpus" "$artifacts"
  inputs=("$corpus")
  for d in "$here/seeds/$t" "$here/regressions/$t"; do [ -d "$d" ] && inputs+=("$d"); done
  options=(-max_total_time="$seconds" -timeout=60 -rss_limit_mb=2048 -print_final_stats=1
           -artifact_prefix="$artifacts/")
  case $t in reply | converters) ;; *) options+=(-dict="$here/dicts/xml.dict") ;; esac
  "$build/bin/fuzz_$t" "${options[@]}" "${inputs[@]}" >"$log" 2>&1
  rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n1 | cut -d' ' -f2)
  result=ok
  if [ $rc -ne 0 ]; then
    result="FAILED (exit $rc), log: $log"
    status=1
  fi
  printf 'fuzz %-13s %11s execs in %ss  cov %6s  ft %6s  corpus %5s  %s\n' "$t" "${execs:-?}" "$seconds" \
    "${cov:-?}" "${ft:-?}" "$(ls "$corpus" | wc -l)" "$result"
  [ $rc -eq 0 ] || tail -n 60 "$log"
done
exit $status
