#!/usr/bin/env bash
# The host vantrel-cli and the win32 vantrel-cli.exe (under Wine) turn the
# same files into the same bytes, one at a time and several at once.
#   cli_cross_build.sh HOST_CLI WIN32_CLI EMULATOR
# Inputs and keys are pseudo-random from VANTREL_TEST_SEED (printed; set it
# to replay a run). Exit 77 (skipped) when there is no host build.
set -euo pipefail

host=$1 win=$2 emulator=$3
if [[ ! -x $host ]]; then
  echo "No host build at $host ('make host' builds it): nothing to compare with."
  exit 77
fi
seed=${VANTREL_TEST_SEED:-$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')}
echo "[  SEED    ] VANTREL_TEST_SEED=$seed"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir host win one
failures=0

# Pseudo-random bytes: zeros encrypted with a key made from the seed.
random_file() {  # NAME LENGTH LABEL
  printf 'vantrel %s %s' "$seed" "$3" > seedkey
  head -c "$2" /dev/zero > zeros
  "$host" encrypt -q -f -k seedkey -o "$1" zeros
}

inputs=()
i=0
# input length : key length
for spec in 0:5 1:0 7:1 1000:2 70000:37 150000:4096 3000:9000; do
  random_file "in$i" "${spec%%:*}" "input $i"
  random_file "key$i" "${spec##*:}" "key $i"
  for mode in encrypt decrypt; do
    "$host" "$mode" -q -k "key$i" -o "host/$mode$i" "in$i"
    "$emulator" "$win" "$mode" -q -k "key$i" -o "win/$mode$i" "in$i"
    if ! cmp -s "host/$mode$i" "win/$mode$i"; then
      echo "FAILED: $mode of in$i (${spec%%:*} bytes, key ${spec##*:} bytes) differs between the builds"
      failures=$((failures + 1))
    fi
  done
  inputs+=("in$i")
  i=$((i + 1))
done

# Several files at once in the Windows build, one key, against the host's
# one at a time.
"$emulator" "$win" encrypt -q -j 3 -k key4 -o one "${inputs[@]}"
for input in "${inputs[@]}"; do
  "$host" encrypt -q -f -k key4 -o "host/$input.vtl" "$input"
  if ! cmp -s "host/$input.vtl" "one/$input.vtl"; then
    echo "FAILED: $input encrypted with -j 3 by the Windows build differs from the host's"
    failures=$((failures + 1))
  fi
done

if [[ $failures -ne 0 ]]; then
  echo "$failures comparisons failed"
  exit 1
fi
echo "host and win32 builds agree on ${#inputs[@]} files in both modes and with -j 3"
