#!/usr/bin/env bash
# Runs every test of every build tree and ends with one summary line.
set -uo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
jobs=$(nproc 2>/dev/null || echo 2)

# Runs ctest on one tree; prints its output and leaves "passed total" in $counts.
run_tree() {
  local tree=$1; shift
  local log=$top/build/$tree/ctest-summary.log
  echo "== Testing the $tree tree =="
  "$@" ctest --test-dir "build/$tree" --output-on-failure -j "$jobs" 2>&1 | tee "$log"
  local line
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [[ -z $line ]]; then
    counts="0 1"  # ctest itself failed: count it as a failure
  else
    local failed total
    failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
    counts="$((total - failed)) $total"
  fi
}

# One seed for every tree, so that their cross-build tests use the same files.
export VANTREL_TEST_SEED=${VANTREL_TEST_SEED:-$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')}
echo "== Seed of this run: VANTREL_TEST_SEED=$VANTREL_TEST_SEED =="

# Each tree with what it is in the summary; its counts added up.
pass=0 total=0 trees=()
tally() {
  local tree_pass tree_total
  read -r tree_pass tree_total <<<"$counts"
  pass=$((pass + tree_pass)) total=$((total + tree_total))
  trees+=("$1 $tree_pass/$tree_total")
}
run_tree host
tally "host g++"
run_tree clang
tally "host Clang"
run_tree aarch64
tally "aarch64 under QEMU"
run_tree s390x
tally "s390x under QEMU"
run_tree win32 tools/wine-session.sh
tally "win32 under Wine"

summary=$(printf '%s, ' "${trees[@]}")
summary=${summary%, }
if [[ $pass -eq $total ]]; then
  echo "== Vantrel: all $total tests passed ($summary) =="
  exit 0
fi
echo "== Vantrel: $((total - pass)) of $total tests FAILED (passed: $summary) =="
exit 1
