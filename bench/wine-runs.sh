#!/usr/bin/env bash
# The Windows sale benchmark in RUNS runs per library, each on a fresh host process next to a
# fresh simulator, then once the slow register behind a driver that ignores the read time-outs.
# Prints, per library and condition, the median and the slowest run (a run's figure is the
# median of its receipts, against its ideal), the floor of the median run (the same frames sent
# by a minimal client in that process), and over all receipts, every one of which was answered
# in time, the waits that ran to their limit and the reads that came back at once with nothing.
# Each run's output is kept in OUT_DIR.
#   wine-runs.sh SIM BUILD_DIR OUT_DIR RUNS TARGET...
set -uo pipefail
sim=$1 build=$2 out=$3 runs=$4
shift 4
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$out"
status=0
for target in "$@"; do
  program=$build/$target/bin/vesklink_wine_bench.exe
  rm -f "$out/$target"-*.txt
  for ((i = 1; i <= runs; i++)); do
    bash "$root/tests/with-sim.sh" "$sim" "$program" --gtest_brief=1 --gtest_filter='*TenPositionSale' \
      >"$out/$target-$i.txt" 2>&1 || { status=1; echo "$target run $i failed:"; tail -5 "$out/$target-$i.txt"; }
  done
  echo "$target: $runs runs, each the median of its receipts (ratio: time over ideal)"
  cat "$out/$target"-*.txt | awk -F'|' '
    $1 == "run" {
      n[$2]++; ratio[$2, n[$2]] = $3 / $4; ms[$2, n[$2]] = $3; ideal[$2, n[$2]] = $4
      receipts[$2] += $6; runouts[$2] += $7; empty[$2] += $8; floor[$2, n[$2]] = $10
      if (!($2 in order)) { order[$2] = ++conditions; names[conditions] = $2 }
    }
    END {
      printf "  %-26s %18s %18s %9s %9s %9s %11s\n", "conditions", "median run", "slowest run", "floor", "receipts",
             "run-outs", "empty reads"
      for (c = 1; c <= conditions; c++) {
        k = names[c]
        # Insertion sort of the runs by ratio.
        for (i = 1; i <= n[k]; i++) idx[i] = i
        for (i = 2; i <= n[k]; i++)
          for (j = i; j > 1 && ratio[k, idx[j]] < ratio[k, idx[j - 1]]; j--) { t = idx[j]; idx[j] = idx[j - 1]; idx[j - 1] = t }
        m = idx[int((n[k] + 1) / 2)]; s = idx[n[k]]
        # The floor of the median run: the minimal client in the same process, same conditions.
        printf "  %-26s %7.1f ms %8.3f %7.1f ms %8.3f %9.3f %9d %9d %11d\n", k, ms[k, m], ratio[k, m], ms[k, s],
               ratio[k, s], floor[k, m], receipts[k], runouts[k], empty[k]
      }
    }'
  bash "$root/tests/with-sim.sh" "$sim" "$program" --gtest_brief=1 --gtest_filter='*SlowRegisterBehindADeafDriver' \
    >"$out/$target-slow.txt" 2>&1 || status=1
  grep -h '^register answering' "$out/$target-slow.txt" || { status=1; tail -5 "$out/$target-slow.txt"; }
done
exit $status
