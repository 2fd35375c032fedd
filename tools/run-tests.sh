#!/usr/bin/env bash
# Runs every test of both build trees and ends with one summary line.
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

run_tree host
read -r host_pass host_total <<<"$counts"
run_tree win32 tools/wine-session.sh
read -r win_pass win_total <<<"$counts"

pass=$((host_pass + win_pass))
total=$((host_total + win_total))
if [[ $pass -eq $total ]]; then
  echo "== Vantrel: all $total tests passed (host $host_pass/$host_total, win32 under Wine $win_pass/$win_total) =="
  exit 0
fi
echo "== Vantrel: $((total - pass)) of $total tests FAILED (host $host_pass/$host_total passed, win32 under Wine $win_pass/$win_total passed) =="
exit 1
