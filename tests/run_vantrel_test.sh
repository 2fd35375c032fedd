#!/usr/bin/env bash
# `make run` without a display: tools/run-vantrel.sh starts Vantrel on a
# virtual display in a fresh Wine prefix, saves a picture of its window and
# says where, keeps it running, and on Ctrl+C closes it with exit code 0,
# with no complaint from make. (The tree is built already: make -o win32.)
#   run_vantrel_test.sh SOURCE-DIR
set -uo pipefail

work=$(mktemp -d)
pid=
cleanup() {
  [[ -n $pid ]] && kill -TERM -- "-$pid" 2>/dev/null
  WINEPREFIX=$work/prefix wineserver -k >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAILED: $*"; cat "$work/log"; exit 1; }

# Job control: the script gets a process group of its own, with Ctrl+C
# (SIGINT) handled as at a terminal, not ignored as in a background job.
set -m
env -u DISPLAY VANTREL_WINEPREFIX="$work/prefix" VANTREL_SCREENSHOT="$work/screen.png" \
  make -s -C "$1" -o win32 run >"$work/log" 2>&1 </dev/null &
pid=$!
set +m

for _ in $(seq 240); do
  grep -q "Press Ctrl+C" "$work/log" && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.5
done
grep -q "Press Ctrl+C" "$work/log" || fail "Vantrel did not come up"
grep -qF "Screenshot of its window: $work/screen.png" "$work/log" || fail "the screenshot's place is not given"
[[ $(identify -format '%m %w' "$work/screen.png" 2>/dev/null) =~ ^PNG\ [0-9]{3,} ]] ||
  fail "the screenshot is not a PNG picture of a window"

sleep 2
kill -0 "$pid" 2>/dev/null || fail "Vantrel did not keep running"
kill -INT -- "-$pid"
for _ in $(seq 120); do
  kill -0 "$pid" 2>/dev/null && sleep 0.5
done
kill -0 "$pid" 2>/dev/null && fail "Ctrl+C did not end make run"
pid=
grep -q "Vantrel ended (exit code 0)." "$work/log" || fail "Vantrel was not closed in order (exit code 0)"
grep -q '\*\*\*' "$work/log" && fail "make complained after Vantrel closed in order"
echo "make run: started, pictured, kept running and closed on Ctrl+C"
