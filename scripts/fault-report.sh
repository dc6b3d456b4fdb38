#!/usr/bin/env bash
# Runs the in-process fault sweeps (tests/unit/fault_sweep_test.cpp: the
# seeded faults in every phase, and fails_once_early, one failed transfer at
# every transfer before the first change) of the build DIR (default build)
# with seed N (default the tests' own) and prints their cases per link,
# command and fault kind, the results they ended with, and every case that
# did not end as required (then exits non-zero).
# Usage: bash scripts/fault-report.sh [--build DIR] [--seed N]
set -uo pipefail
cd "$(dirname "$0")/.."
build=build
seed=""
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
tests=$build/bin/qz_unit_tests
[ -x "$tests" ] || { echo "no $tests: build first (cmake --workflow --preset default)" >&2; exit 2; }
csv=$(mktemp)
trap 'rm -f "$csv" "$csv.log"' EXIT
start=$(date +%s.%N)
env QZ_FAULT_SWEEP_CSV="$csv" ${seed:+QZ_FAULT_SWEEP_SEED=$seed} "$tests" --gtest_filter='Links/FaultSweep*' \
  > "$csv.log" 2>&1
status=$?
printf "== Fault sweep: %d cases in %.1f s\n\n" "$(wc -l < "$csv")" "$(echo "$(date +%s.%N) - $start" | bc)"
# link,command,fault,phase,transfer,result,verdict
printf "%-8s %-4s %6s %12s   %s\n" link cmd cases "as required" "per fault kind"
awk -F, '{ k = $1 " " $2; n[k]++; ok[k] += $7 == "ok"; f[k " " $3]++ }
  END {
        for (k in n) { line = ""; split(k, p, " ");
          for (x in f) { split(x, q, " "); if (q[1] == p[1] && q[2] == p[2]) line = line " " q[3] "=" f[x] }
          printf "%-8s %-4s %6d %12d  %s\n", p[1], p[2], n[k], ok[k], line } }' "$csv" | sort
echo
echo "Results (Windows value x cases), per link:"
awk -F, '{ r[$1 " " $6]++ } END { for (k in r) { split(k, p, " "); printf "  %-8s %11s x %d\n", p[1], p[2], r[k] } }' \
  "$csv" | sort -k1,1 -k2,2n
if grep -q ',FAILED$' "$csv" || [ $status -ne 0 ]; then
  echo; echo "Not as required:"; grep -E 'Failure|FAILED|: ' "$csv.log" | grep -v '^\[' | sed 's/^/  /'
  exit 1
fi
