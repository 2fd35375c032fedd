#!/usr/bin/env bash
# Starts the Windows program under Wine. With a display it opens there; with
# none, it runs on a virtual display, saves a screenshot and keeps running
# until Ctrl+C.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
exe=$top/build/win32/vantrel.exe
if [[ ! -f $exe ]]; then
  echo "Built both trees; the Windows program (build/win32/vantrel.exe) does not exist yet."
  exit 0
fi

export WINEPREFIX=${VANTREL_WINEPREFIX:-$top/build/win32/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="

if [[ -n ${DISPLAY:-} ]] && xdpyinfo >/dev/null 2>&1; then
  exec "$top/tools/wine-session.sh" wine "$exe"
fi

shot=$top/build/vantrel-screen.png
"$top/tools/wine-session.sh" bash -c '
  wine "$1" &
  pid=$!
  for _ in $(seq 100); do xdotool search --name "^Vantrel$" >/dev/null 2>&1 && break; sleep 0.2; done
  sleep 1
  import -window root "$2" && echo "No display: Vantrel runs on a virtual display. Screenshot: $2"
  echo "Press Ctrl+C to end Vantrel."
  trap "wineserver -k >/dev/null 2>&1; exit 0" INT TERM
  wait "$pid"
' _ "$exe" "$shot"
