#!/usr/bin/env bash
# The host vantrel-cli and the win32 vantrel-cli.exe (under Wine) turn the
# same files into the same bytes.   cli_cross_build.sh HOST_CLI WIN32_CLI EMULATOR
# Inputs and keys are pseudo-random from VANTREL_TEST_SEED (printed; set it
# to replay a run). Exit 77 (skipped) when there is no host build.
set -euo pipefail
host=$1 win=$2 emulator=$3
[[ -x $host ]] || { echo "No host build at $host ('make host' builds it)"; exit 77; }
seed=${VANTREL_TEST_SEED:-$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')}
echo "[  SEED    ] VANTREL_TEST_SEED=$seed"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

random_file() {  # NAME LENGTH: zeros encrypted with a key made from the seed
  printf 'vantrel %s %s' "$seed" "$1" > seedkey
  head -c "$2" /dev/zero > zeros
  "$host" encrypt -q -f -k seedkey -o "$1" zeros
}

failures=0
for sizes in 0:5 1:0 7:1 1000:2 70000:37 150000:4096 3000:9000; do  # input length:key length
  random_file in "${sizes%%:*}"
  random_file key "${sizes##*:}"
  for mode in encrypt decrypt; do
    "$host" $mode -q -f -k key -o host.out in
    "$emulator" "$win" $mode -q -f -k key -o win.out in
    cmp -s host.out win.out || { echo "FAILED: $mode of $sizes differs"; failures=$((failures + 1)); }
  done
done
[[ $failures -eq 0 ]] && echo "host and win32 builds agree"
