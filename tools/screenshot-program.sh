#!/usr/bin/env bash
# Pictures of the real program for the README, taken under Wine on a virtual
# display of our own: docs/about-at-start.png, docs/main-window.png,
# docs/file-menu.png and docs/progress-run.png. The program is worked
# through its windows by build/win32/program-pictures.exe (make win32 builds
# it), which says when each picture is due.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
driver=$top/build/win32/program-pictures.exe
if [[ ! -f $driver || ! -f $top/build/win32/vantrel.exe ]]; then
  echo "screenshot-program: build the win32 tree first (make win32)" >&2
  exit 1
fi

# Always on a virtual display of our own, never on the user's screen.
if [[ -z ${VANTREL_SCREENSHOT_SESSION:-} ]]; then
  VANTREL_SCREENSHOT_SESSION=1 exec env -u DISPLAY "$top/tools/wine-session.sh" "$0" "$@"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

declare -A output=(
  [about]=about-at-start.png
  [main]=main-window.png
  [file-menu]=file-menu.png
  [progress]=progress-run.png
)

wine "$driver" "$(winepath -w "$work")" </dev/null >"$work/driver.log" 2>&1 &
pid=$!
taken=0
# Bounded: the whole session, a large run included, ends within ten minutes.
for _ in $(seq 6000); do
  for rect in "$work"/*.rect; do
    [[ -e $rect ]] || continue
    name=$(basename "$rect" .rect)
    read -r left top_ right bottom < <(tr -d '\r' <"$rect")
    margin=0
    x=$((left > margin ? left - margin : 0))
    y=$((top_ > margin ? top_ - margin : 0))
    out=$top/docs/${output[$name]}
    import -window root -crop "$((right - left + 2 * margin))x$((bottom - top_ + 2 * margin))+$x+$y" +repage "$out"
    echo "Saved $out"
    rm -f "$rect"
    touch "$work/$name.done"
    taken=$((taken + 1))
  done
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
status=0
wait "$pid" || status=$?
if [[ $status -ne 0 || $taken -ne 4 ]]; then
  cat "$work/driver.log" >&2
  echo "screenshot-program: $taken of 4 pictures taken" >&2
  exit 1
fi
