#!/usr/bin/env bash
# Packs what a user downloads into dist/ (make dist, after both trees are
# built): vantrel-VERSION-win32.zip from the win32 tree,
# vantrel-cli_VERSION_ARCH.deb from the host tree, and SHA256SUMS of both.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
dist=$top/dist
rm -rf "$dist"
mkdir -p "$dist"
# pack TREE PATTERN: packs one tree and copies its package into dist/.
pack() {
  local out=$top/build/$1/package
  rm -rf "$out"
  if ! cpack --config "$top/build/$1/CPackConfig.cmake" -B "$out" >"$out.log" 2>&1; then
    cat "$out.log" >&2
    echo "make-dist: packing the $1 tree failed" >&2
    exit 1
  fi
  cp "$out"/$2 "$dist/"
}
pack win32 '*.zip'
pack host '*.deb'

cd "$dist"
sha256sum -- *.zip *.deb >SHA256SUMS
echo "Release files in $dist:"
ls -l | tail -n +2
