#!/usr/bin/env bash
# Installs what building and testing Vantrel needs on Debian, only what is missing.
# Quiet and idempotent: a machine that has everything gets no apt-get call at all.
set -euo pipefail

# command-or-file : package
needs=(
  "cmake:cmake"
  "g++:g++"
  "make:make"
  "/usr/include/gtest/gtest.h:libgtest-dev"
  "/usr/src/googletest/CMakeLists.txt:googletest"
  "i686-w64-mingw32-g++-posix:g++-mingw-w64-i686-posix"
  "i686-w64-mingw32-windres:binutils-mingw-w64-i686"
  "wine:wine"
  "/usr/lib/wine/wine:wine32:i386"
  "Xvfb:xvfb"
  "xauth:xauth"
  "xdpyinfo:x11-utils"
  "xdotool:xdotool"
  "import:imagemagick"
  "/usr/share/wine/fonts/tahoma.ttf:fonts-wine"
)

missing=()
for entry in "${needs[@]}"; do
  probe=${entry%%:*}
  pkg=${entry#*:}
  if [[ $probe == /* ]]; then
    [[ -e $probe ]] && continue
  else
    command -v "$probe" >/dev/null 2>&1 && continue
  fi
  missing+=("$pkg")
done

[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null 2>&1 || { echo "install-deps: need root or sudo to install ${missing[*]}" >&2; exit 1; }
  sudo=(sudo)
fi

export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386
fi
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "Installed: ${missing[*]}"
