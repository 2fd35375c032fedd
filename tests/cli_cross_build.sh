#!/usr/bin/env bash
# The host vantrel-cli and the win32 vantrel-cli.exe (under Wine) turn the
# same files into the same bytes, through pipes too, and end alike on Ctrl+C.
#   cli_cross_build.sh HOST_CLI WIN32_CLI EMULATOR
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
# Standard input, standard output and a key on standard input, as unix pipes.
random_file in 150000
random_file key 37
"$host" encrypt -q -f -k key -o host.out in
rm -f win.out
win_cli() { "$emulator" "$win" "$@" || true; }
same() {  # WHAT: win.out holds what host.out holds
  cmp -s host.out win.out || { echo "FAILED: $1 differs"; failures=$((failures + 1)); }
  rm -f win.out
}
cat in | win_cli encrypt -q -k key -o win.out -; same "standard input"
win_cli encrypt -q -k key -o - in > win.out; same "standard output"
cat key | win_cli encrypt -q -k - -o win.out in; same "a key on standard input"

# Ctrl+C (SIGINT, which Wine passes on as a console event) mid-run: status
# 130 and nothing left but the files that were there. Background commands
# ignore SIGINT unless it is restored.
head -c $((24 << 20)) /dev/zero > big
before=$(ls -a)
for cli in "$host" "$emulator $win"; do
  env --default-signal=INT $cli encrypt -q -k key big &
  pid=$!
  until ls -a | grep -q '^[.]vantrel-' || [[ $(ls -l /proc/$pid/fd 2>/dev/null | grep -c '(deleted)') -ge 1 ]] ||
        ! kill -0 $pid 2>/dev/null; do sleep 0.05; done
  kill -INT $pid
  status=0
  wait $pid || status=$?
  [[ $status -eq 130 && $(ls -a) == "$before" ]] ||
    { echo "FAILED: Ctrl+C on ${cli##*/} ended with $status, leaving: $(ls -a | tr '\n' ' ')"; failures=$((failures + 1)); }
done
[[ $failures -eq 0 ]] && echo "host and win32 builds agree"
