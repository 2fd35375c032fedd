#!/usr/bin/env bash
# `make run` on a machine without a display: tools/run-vantrel.sh starts
# Vantrel on a virtual display in a fresh Wine prefix, saves a picture of its
# window and says where, keeps it running, and on Ctrl+C closes it with exit
# code 0 and leaves nothing of its session behind.
#   run_vantrel_test.sh SOURCE-DIR
set -uo pipefail

top=$1
work=$(mktemp -d)
log=$work/log
pid=
cleanup() {
  [[ -n $pid ]] && kill -TERM -- "-$pid" 2>/dev/null
  WINEPREFIX=$work/prefix wineserver -k >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*"
  echo "---- output of run-vantrel.sh ----"
  cat "$log"
  exit 1
}

# Job control: the script runs in a process group of its own, with Ctrl+C
# (SIGINT) handled as at a terminal, not ignored as in a plain background job.
set -m
env -u DISPLAY VANTREL_WINEPREFIX="$work/prefix" VANTREL_SCREENSHOT="$work/screen.png" \
  "$top/tools/run-vantrel.sh" >"$log" 2>&1 </dev/null &
pid=$!
set +m

for _ in $(seq 240); do
  grep -q "Press Ctrl+C" "$log" && break
  kill -0 "$pid" 2>/dev/null || fail "run-vantrel.sh ended before Vantrel was up"
  sleep 0.5
done
grep -q "Press Ctrl+C" "$log" || fail "Vantrel did not come up within two minutes"
grep -qF "Screenshot of its window: $work/screen.png" "$log" || fail "the screenshot's place is not given"
[[ $(head -c 8 "$work/screen.png" | od -An -tx1 | tr -d ' \n') == 89504e470d0a1a0a ]] ||
  fail "the screenshot is not a PNG picture"
read -r width height < <(identify -format '%w %h' "$work/screen.png")
((width >= 200 && height >= 150)) || fail "the screenshot is only ${width}x${height}"

# It keeps running until Ctrl+C.
sleep 2
kill -0 "$pid" 2>/dev/null || fail "Vantrel did not keep running"
kill -INT -- "-$pid"
for _ in $(seq 120); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.5
done
kill -0 "$pid" 2>/dev/null && fail "Ctrl+C did not end run-vantrel.sh within a minute"
wait "$pid"
status=$?
pid=
grep -q "Vantrel ended (exit code 0)." "$log" || fail "Vantrel was not closed in order (exit code 0)"
grep -q "did not close" "$log" && fail "Vantrel had to be forced"
((status == 0 || status == 130)) || fail "run-vantrel.sh ended with $status"

# Nothing of the session is left: no process still uses its prefix.
sleep 1
for environ in /proc/[0-9]*/environ; do
  if grep -qsF "$work/prefix" "$environ"; then
    process=${environ#/proc/}
    fail "process ${process%/environ} ($(tr '\0' ' ' <"/proc/${process%/environ}/cmdline")) is still running"
  fi
done
echo "run-vantrel.sh: started, pictured, kept running and closed on Ctrl+C"
