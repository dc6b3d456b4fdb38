#!/usr/bin/env bash
# Runs the fault-injection sweep of the end-to-end tests and the fuzz targets,
# and prints what they found:
#   - fault cases run per link and command, how many ended as required,
#     the longest time any case took, the cases that did not;
#   - fuzzing executions per target, seed corpus and final corpus sizes.
#
# Usage: bash tests/fault_report.sh [--build DIR] [--fuzz-build DIR]
#                                   [--seed N] [--scale X]
#                                   [--no-sweep] [--no-fuzz]
#   --build DIR       build with bin/qz_e2e_tests (default: build)
#   --fuzz-build DIR  build of the "fuzz" preset (default: build-fuzz); each
#                     target runs for its QZ_FUZZ_SECONDS (60 s by default)
#   --seed N          QZ_FAULT_SWEEP_SEED for the sweep (default: the tests')
#   --scale X         QZ_FAULT_SWEEP_SCALE, e.g. 3 for three times the cases
# Exits non-zero when a fault case did not end as required or a fuzz target
# failed.
set -uo pipefail
cd "$(dirname "$0")/.."

build=build
fuzz_build=build-fuzz
seed=""
scale=""
run_sweep=1
run_fuzz=1
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --fuzz-build) fuzz_build=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --scale) scale=$2; shift 2 ;;
    --no-sweep) run_sweep=0; shift ;;
    --no-fuzz) run_fuzz=0; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

if [ $run_sweep -eq 1 ]; then
  tests=$build/bin/qz_e2e_tests
  if [ ! -x "$tests" ]; then
    echo "no $tests: build first (cmake --workflow --preset default)" >&2
    exit 2
  fi
  csv=$work/cases.csv
  : > "$csv"
  start=$(date +%s)
  env QZ_FAULT_SWEEP_CSV="$csv" ${seed:+QZ_FAULT_SWEEP_SEED=$seed} ${scale:+QZ_FAULT_SWEEP_SCALE=$scale} \
    "$tests" --gtest_filter='FaultSweepE2eTest.*' > "$work/sweep.log" 2>&1
  sweep_status=$?
  elapsed=$(( $(date +%s) - start ))
  used_seed=$(sed -n 's/.*QZ_FAULT_SWEEP_SEED=\([0-9]*\).*/\1/p' "$work/sweep.log" | head -1)

  echo "== Fault sweep: $(wc -l < "$csv") cases in ${elapsed} s, seed ${used_seed:-?}, scale ${scale:-1}"
  echo "   (rerun one: QZ_FAULT_SWEEP_SEED=${used_seed:-N} $tests --gtest_filter='FaultSweepE2eTest.*')"
  echo
  printf "%-9s %-8s %6s %14s %12s\n" "link" "command" "cases" "as required" "longest (s)"
  awk -F, '{ key = $1 " " $2; cases[key]++; if ($8 == "ok") ok[key]++;
             if ($7 + 0 > longest[key]) longest[key] = $7 + 0 }
           END { for (k in cases) { split(k, p, " ");
                   printf "%-9s %-8s %6d %14d %12.2f\n", p[1], p[2], cases[k], ok[k] + 0, longest[k] } }' "$csv" | sort
  awk -F, '{ total++; if ($8 == "ok") total_ok++;
             if ($7 + 0 > worst) { worst = $7 + 0; what = $1 " " $2 " " $3 " at " $4 " (" $5 ")" } }
           END { printf "%-18s %6d %14d\n\nLongest case: %.2f s (%s)\n", "all", total, total_ok, worst, what }' "$csv"
  echo
  echo "Exit statuses seen, per link (status x cases):"
  awk -F, '{ s[$1 " " $6]++ } END { for (k in s) { split(k, p, " "); printf "  %-9s %4s x %d\n", p[1], p[2], s[k] } }' \
    "$csv" | sort -k1,1 -k2,2n
  if grep -q ',FAILED$' "$csv" || [ $sweep_status -ne 0 ]; then
    failed=1
    echo
    echo "Cases that did not end as required (link,command,fault,position,phase,status,seconds):"
    grep '\[ case     \].*FAILED' "$work/sweep.log" | sed 's/^\[ case     \] /  /'
    grep -E '^\[  FAILED  \]' "$work/sweep.log" | sort -u | sed 's/^/  /'
  fi
  echo
fi

if [ $run_fuzz -eq 1 ]; then
  if [ ! -f "$fuzz_build/CTestTestfile.cmake" ]; then
    echo "== Fuzzing: no $fuzz_build (cmake --preset fuzz && cmake --build --preset fuzz)"
  else
    ctest --test-dir "$fuzz_build" -L fuzz -V -j2 > "$work/fuzz.log" 2>&1
    fuzz_status=$?
    echo "== Fuzzing ($fuzz_build)"
    printf "%-14s %12s %10s %14s %8s %s\n" "target" "executions" "seconds" "seed corpus" "corpus" "result"
    for corpus in tests/fuzz/corpus/*/; do
      t=$(basename "$corpus")
      seeds=$(find "$corpus" -type f | wc -l)
      # ctest -V prefixes each line of a test's output with its number.
      num=$(sed -nE "s/^ *Start +([0-9]+): fuzz_$t\$/\1/p" "$work/fuzz.log" | head -1)
      if [ -z "$num" ]; then
        printf "%-14s %12s\n" "$t" "not run"
        continue
      fi
      out=$(grep -E "^$num: " "$work/fuzz.log" | sed -E "s/^$num: //")
      execs=$(printf '%s\n' "$out" | sed -n 's/^stat::number_of_executed_units: *//p' | tail -1)
      secs=$(printf '%s\n' "$out" | sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' | tail -1)
      corp=$(printf '%s\n' "$out" | grep -E 'DONE|INITED' | tail -1 | sed -n 's/.*corp: \([0-9]*\)\/.*/\1/p')
      if grep -qE "fuzz_$t +\.+ +Passed" "$work/fuzz.log"; then result=passed; else result=FAILED; failed=1; fi
      printf "%-14s %12s %10s %14s %8s %s\n" "$t" "${execs:-?}" "${secs:-?}" "$seeds files" "${corp:-?}" "$result"
    done
    if [ $fuzz_status -ne 0 ]; then
      failed=1
      echo "Failing fuzz tests (crash inputs in $fuzz_build/tests/fuzz/artifacts/):"
      grep -E '\*\*\*Failed|Failed +[0-9]' "$work/fuzz.log" | sed 's/^/  /'
    fi
  fi
fi
exit $failed
