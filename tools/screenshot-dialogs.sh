#!/usr/bin/env bash
# Shows each dialog of Vantrel under Wine on a virtual desktop of its own and
# saves a picture of it: docs/progress-dialog.png and docs/about-dialog.png.
# The dialogs come from the program's resources and procedures, through
# build/win32/dialog-preview.exe (make win32 builds it).
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
preview=$top/build/win32/dialog-preview.exe
if [[ ! -f $preview ]]; then
  echo "screenshot-dialogs: $preview is missing; build the win32 tree first (make win32)" >&2
  exit 1
fi

# Always on a virtual display of our own, never on the user's screen.
if [[ -z ${VANTREL_SCREENSHOT_SESSION:-} ]]; then
  VANTREL_SCREENSHOT_SESSION=1 exec env -u DISPLAY "$top/tools/wine-session.sh" "$0" "$@"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# shoot WHICH OUTPUT: shows the dialog WHICH and saves it with a margin.
shoot() {
  local which=$1 out=$2 rect_file=$work/$1.rect desktop=Vantrel-$1
  # The preview ends by itself after 6 seconds, and its desktop with it.
  wine explorer "/desktop=$desktop,640x480" "$preview" "$which" "$(winepath -w "$rect_file")" 6 \
    </dev/null >/dev/null 2>&1 &
  local pid=$!
  for _ in $(seq 100); do
    [[ -s $rect_file ]] && break
    sleep 0.2
  done
  if [[ ! -s $rect_file ]]; then
    echo "screenshot-dialogs: the $which dialog did not come up" >&2
    kill "$pid" 2>/dev/null || true
    return 1
  fi
  sleep 1  # let it paint

  # Dialog rectangle in desktop coordinates, plus where the desktop window is.
  local left top_ right bottom
  read -r left top_ right bottom < <(tr -d '\r' <"$rect_file")
  local window x=0 y=0
  window=$(xdotool search --name "$desktop" | head -n 1)
  if [[ -n $window ]]; then
    eval "$(xdotool getwindowgeometry --shell "$window" | grep -E '^[XY]=')"
    x=${X:-0}
    y=${Y:-0}
  fi
  local margin=6
  local cx=$((x + left - margin)) cy=$((y + top_ - margin))
  local width=$((right - left + 2 * margin)) height=$((bottom - top_ + 2 * margin))
  ((cx < 0)) && cx=0
  ((cy < 0)) && cy=0
  import -window root -crop "${width}x${height}+${cx}+${cy}" +repage "$out"
  echo "Saved $out (${width}x${height})"

  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

mkdir -p "$top/docs"
shoot progress "$top/docs/progress-dialog.png"
shoot about "$top/docs/about-dialog.png"
