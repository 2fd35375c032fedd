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
  "clang++:clang"
  "aarch64-linux-gnu-g++:crossbuild-essential-arm64"
  "s390x-linux-gnu-g++:crossbuild-essential-s390x"
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
  # the release: the Debian package's dependencies, its checks, its manual page
  "dpkg-shlibdeps:dpkg-dev"
  "lintian:lintian"
  "groff:groff-base"
  "man:man-db"
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

sudo=()
as_root() {
  if [[ $(id -u) -ne 0 && ${#sudo[@]} -eq 0 ]]; then
    command -v sudo >/dev/null 2>&1 || { echo "install-deps: need root or sudo to $1" >&2; exit 1; }
    sudo=(sudo)
  fi
}
export DEBIAN_FRONTEND=noninteractive

if [[ ${#missing[@]} -gt 0 ]]; then
  echo "Installing: ${missing[*]}"
  as_root "install ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo[@]}" dpkg --add-architecture i386
  fi
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  echo "Installed: ${missing[*]}"
fi

# 32-bit Wine is made of i386 Linux programs. A kernel built without 32-bit
# support cannot start them: there they run under QEMU's user-mode emulator,
# registered for i386 programs. Wine needs QEMU 8 or later (older ones ignore
# the address hints Wine reserves its memory with, and Wine spins at start),
# so it comes from Debian's backports of this release.
i386_runs() { /lib/ld-linux.so.2 --version >/dev/null 2>&1; }
if ! i386_runs; then
  as_root "let this kernel run 32-bit Wine"
  qemu=/usr/bin/qemu-i386
  major=$("$qemu" --version 2>/dev/null | sed -nE '1s/.* version ([0-9]+)\..*/\1/p' || true)
  if [[ -z $major || $major -lt 8 ]]; then
    echo "Installing: qemu-user from bookworm-backports (this kernel cannot run 32-bit programs)"
    list=/etc/apt/sources.list.d/vantrel-backports.list
    if ! grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/; then
      echo 'deb http://deb.debian.org/debian bookworm-backports main' | "${sudo[@]}" tee "$list" >/dev/null
    fi
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends -t bookworm-backports qemu-user >/dev/null
  fi
  binfmt=/proc/sys/fs/binfmt_misc
  [[ -e $binfmt/register ]] || "${sudo[@]}" mount -t binfmt_misc binfmt_misc "$binfmt"
  [[ -e $binfmt/qemu-i386 ]] && echo -1 | "${sudo[@]}" tee "$binfmt/qemu-i386" >/dev/null
  # ELF, 32-bit, little-endian, i386, executable or shared object; F: the
  # emulator is opened now, so it also serves inside other root folders.
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F' |
    "${sudo[@]}" tee "$binfmt/register" >/dev/null
  i386_runs || { echo "install-deps: 32-bit programs still do not run (QEMU's i386 emulator)" >&2; exit 1; }
  echo "32-bit programs run under QEMU's i386 emulator (this kernel has no 32-bit support)."
fi

# The aarch64 and s390x trees run their programs under QEMU's user-mode
# emulators: the backports' qemu-user above brings them, else this release's.
if ! command -v qemu-aarch64 >/dev/null 2>&1 || ! command -v qemu-s390x >/dev/null 2>&1; then
  as_root "install qemu-user"
  echo "Installing: qemu-user"
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends qemu-user >/dev/null
fi
