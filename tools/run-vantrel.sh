#!/usr/bin/env bash
# Starts Vantrel (build/win32/vantrel.exe) under Wine: `make run`.
# - With a display, it opens there and this script ends with the program.
# - Without one, it runs on a virtual display: the script saves a picture of
#   the program's window (build/vantrel-screen.png, or the file named by
#   VANTREL_SCREENSHOT), says where, and keeps the program running until
#   Ctrl+C; then it closes the program the way File, Exit would.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
exe=$top/build/win32/vantrel.exe
if [[ ! -f $exe ]]; then
  echo "run-vantrel: $exe is missing; build it with make win32" >&2
  exit 1
fi

export WINEPREFIX=${VANTREL_WINEPREFIX:-$top/build/win32/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="

if [[ -z ${VANTREL_RUN_SESSION:-} ]]; then
  if [[ -n ${DISPLAY:-} ]] && xdpyinfo >/dev/null 2>&1; then
    cd "$HOME" 2>/dev/null || true  # the dialogs start in the current folder
    exec "$top/tools/wine-session.sh" wine "$exe"
  fi
  # No display: a session of our own, on a virtual display.
  VANTREL_RUN_SESSION=1 exec env -u DISPLAY "$top/tools/wine-session.sh" "$0" "$@"
fi

# ---- Inside the session, on the virtual display ----------------------------
shot=${VANTREL_SCREENSHOT:-$top/build/vantrel-screen.png}
mkdir -p "$(dirname "$shot")"

# The program gets a process group of its own: Ctrl+C reaches this script
# only, which then closes the program in order.
cd "$HOME" 2>/dev/null || true
setsid wine "$exe" </dev/null >/dev/null 2>&1 &
pid=$!

# Closes every window of the program (WM_CLOSE, as the close box does) and
# waits for it to end; forces it only if it does not within 20 seconds.
stop() {
  trap '' INT TERM
  echo
  echo "Closing Vantrel..."
  wine "$top/build/win32/close-program.exe" vantrel.exe </dev/null >/dev/null 2>&1 || true
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  if kill -0 "$pid" 2>/dev/null; then
    echo "Vantrel did not close; ending it." >&2
    kill -- "-$pid" 2>/dev/null || true
  fi
  local status=0
  wait "$pid" 2>/dev/null || status=$?
  echo "Vantrel ended (exit code $status)."
  exit 0
}
trap stop INT TERM

# The X window of a Wine window with exactly this title.
window_of() { xdotool search --name "^$1\$" 2>/dev/null | head -n 1 || true; }

main=
for _ in $(seq 150); do
  main=$(window_of Vantrel)
  [[ -n $main ]] && [[ -n $(window_of "About Vantrel") ]] && break
  kill -0 "$pid" 2>/dev/null || { echo "run-vantrel: Vantrel ended at start-up" >&2; exit 1; }
  sleep 0.2
done
if [[ -z $main ]]; then
  echo "run-vantrel: the Vantrel window did not appear" >&2
  stop
fi
sleep 1  # let it paint

# The picture: the main window (with the About box over it), cut from the
# screen with a small margin.
X= Y= WIDTH= HEIGHT=
eval "$(xdotool getwindowgeometry --shell "$main" | grep -E '^(X|Y|WIDTH|HEIGHT)=')"
margin=8
x=$((X > margin ? X - margin : 0))
y=$((Y > margin ? Y - margin : 0))
import -window root -crop "$((WIDTH + 2 * margin))x$((HEIGHT + 2 * margin))+$x+$y" +repage "$shot"

echo "Vantrel runs under Wine on a virtual display ($DISPLAY): there is no screen to show it on."
echo "Screenshot of its window: $shot"
echo "Press Ctrl+C to end Vantrel."
while kill -0 "$pid" 2>/dev/null; do
  sleep 1 &
  wait $! || true
done
wait "$pid" 2>/dev/null || true
echo "Vantrel ended."
