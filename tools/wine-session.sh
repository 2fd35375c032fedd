#!/usr/bin/env bash
# Runs a command inside a Wine session for the win32 tree: a display (a
# virtual one when there is none), the tree's own Wine prefix, created on
# first use, and a warm wineserver so that each test does not pay Wine's
# start-up. Everything it started ends with it.
#   tools/wine-session.sh COMMAND...
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${VANTREL_WINEPREFIX:-$top/build/win32/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="

xvfb_pid=
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" >/dev/null 2>&1 || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [[ -z ${DISPLAY:-} ]] || ! xdpyinfo >/dev/null 2>&1; then
  # Xvfb picks a free display number itself and writes it to the pipe. It
  # runs in a process group of its own: Ctrl+C at the terminal must not take
  # the display from under a program that is being closed in order.
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  xvfb_pid=$!
  number=$(timeout 20 head -n 1 "$fifo" || true)
  rm -f "$fifo"
  [[ -n $number ]] || { echo "wine-session: could not start a virtual display (Xvfb)" >&2; exit 1; }
  export DISPLAY=":$number"
fi

mkdir -p "$WINEPREFIX"
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  echo "Creating the Wine prefix in $WINEPREFIX (once)..."
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
fi
# Wine draws caption buttons, menu check marks and scroll arrows with its own
# Marlett font, which this Wine does not find in its data folder: without a
# copy in the prefix they come out as letters ("0 1 r").
fonts=$WINEPREFIX/drive_c/windows/Fonts
if [[ -f /usr/share/wine/fonts/marlett.ttf && -d $fonts && ! -f $fonts/marlett.ttf ]]; then
  cp /usr/share/wine/fonts/marlett.ttf "$fonts/"
fi
wineserver -p >/dev/null 2>&1 || true
# On our own virtual display there is no window manager, and Wine would wait
# two seconds for one whenever a window is hidden or destroyed: there, Wine
# places its windows itself. On a real desktop the window manager does.
managed=Y
[[ -n $xvfb_pid ]] && managed=N
if ! grep -q "^\"Managed\"=\"$managed\"" "$WINEPREFIX/user.reg" 2>/dev/null; then
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d "$managed" /f </dev/null >/dev/null 2>&1 || true
fi
# Wine's own background processes start with the first program and would
# inherit its output pipes (a test runner then waits for them forever):
# start them here, with nothing attached.
wine cmd /c exit </dev/null >/dev/null 2>&1 || true

# From here Ctrl+C is the command's to handle (it reaches it too): the
# session ends with the command's own status, 0 when it closed in order.
trap : INT TERM
"$@"
