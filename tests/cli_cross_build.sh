#!/usr/bin/env bash
# Another build tree's vantrel-cli (another compiler, or another machine's
# program under its emulator) turns the same files into the host build's
# bytes, and each undoes the other's output: with every tree checked against
# the host's over the same inputs, every tree's files decrypt with every
# other tree's vantrel-cli. Both read pipes alike and end alike on Ctrl+C.
#   cli_cross_build.sh HOST_CLI TREE_CLI [EMULATOR...]
# Inputs and keys are pseudo-random from VANTREL_TEST_SEED (printed; set it
# to replay a run, and the same seed gives every tree the same files).
# Exit 77 (skipped) when there is no host build.
set -euo pipefail
host=$1 tree=("${@:3}" "$2")
[[ -x $host ]] || { echo "No host build at $host ('make host' builds it)"; exit 77; }
seed=${VANTREL_TEST_SEED:-$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')}
echo "[  SEED    ] VANTREL_TEST_SEED=$seed"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

random_bytes() {  # COUNT STREAM: bytes from the seed, a stream of its own for each STREAM
  LC_ALL=C awk -v seed="$seed" -v stream="$2" -v count="$1" \
    'BEGIN { srand(seed % 10000019 * 100 + stream); for (i = 0; i < count; i++) printf "%c", int(rand() * 256) }'
}
random_size() { echo $(($(random_bytes 4 "$1" | od -An -tu4) % 102400)); }  # STREAM

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
# input length:key length; inputs from empty to 100 KiB.
stream=0
for sizes in 0:37 "$(random_size 1):0" "$(random_size 2):1" 102400:5000; do
  random_bytes "${sizes%%:*}" $((stream += 10)) > in
  random_bytes "${sizes##*:}" $((stream + 1)) > key
  for mode in encrypt decrypt; do
    back=encrypt
    [[ $mode == encrypt ]] && back=decrypt
    "$host" $mode -q -f -k key -o host.out in
    "${tree[@]}" $mode -q -f -k key -o tree.out in
    cmp -s host.out tree.out || fail "$mode of $sizes differs"
    "${tree[@]}" $back -q -f -k key -o tree.back host.out
    "$host" $back -q -f -k key -o host.back tree.out
    cmp -s in tree.back || fail "$back of the host's $mode output ($sizes) does not give the input"
    cmp -s in host.back || fail "the host's $back of this $mode output ($sizes) does not give the input"
  done
done

# Standard input, standard output and a key on standard input, as pipes.
random_bytes 150000 1 > in
random_bytes 37 2 > key
"$host" encrypt -q -f -k key -o host.out in
rm -f tree.out
tree_cli() { "${tree[@]}" "$@" || true; }
same() {  # WHAT: tree.out holds what host.out holds
  cmp -s host.out tree.out || fail "$1 differs"
  rm -f tree.out
}
cat in | tree_cli encrypt -q -k key -o tree.out -; same "standard input"
tree_cli encrypt -q -k key -o - in > tree.out; same "standard output"
cat key | tree_cli encrypt -q -k - -o tree.out in; same "a key on standard input"

# Ctrl+C (SIGINT; Wine passes it on as a console event) mid-run: status 130
# and nothing left but the files that were there. Background commands ignore
# SIGINT unless it is restored.
head -c $((24 << 20)) /dev/zero > big
before=$(ls -a)
env --default-signal=INT "${tree[@]}" encrypt -q -k key big &
pid=$!
until ls -a | grep -q '^[.]vantrel-' || [[ $(ls -l /proc/$pid/fd 2>/dev/null | grep -c '(deleted)') -ge 1 ]] ||
      ! kill -0 $pid 2>/dev/null; do sleep 0.05; done
kill -INT $pid
status=0
wait $pid || status=$?
[[ $status -eq 130 && $(ls -a) == "$before" ]] ||
  fail "Ctrl+C ended with $status, leaving: $(ls -a | tr '\n' ' ')"
[[ $failures -eq 0 ]] && echo "this build and the host build agree"
