#!/usr/bin/env bash
# The Windows zip, packed from this tree as make dist packs it, unpacked
# into an empty folder: just the two programs and a README.txt with Windows
# line endings; vantrel-cli.exe passes selftest from there under Wine; both
# programs carry the project's version where Explorer reads it.
#   release_zip_test.sh BUILD-DIR VERSION WINDRES EMULATOR
set -uo pipefail
build=$1 version=$2 windres=$3 emulator=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1
zip=$work/out/vantrel-$version-win32.zip
[[ -f $zip ]] || { cat "$work/cpack.log"; echo "FAILED: cpack made no $(basename "$zip")"; exit 1; }

mkdir "$work/unpacked"
cd "$work/unpacked"
cmake -E tar xf "$zip"
[[ $(find . -mindepth 1 | sort | xargs) == "./README.txt ./vantrel-cli.exe ./vantrel.exe" ]] ||
  fail "the zip holds: $(find . -mindepth 1 | xargs)"
[[ $(grep -c -v $'\r$' README.txt) -eq 0 ]] || fail "README.txt has lines without Windows line endings"
grep -q "Version $version"$'\r' README.txt || fail "README.txt does not say version $version"

"$emulator" ./vantrel-cli.exe selftest || fail "vantrel-cli.exe selftest"

# The version information, read back from each program.
IFS=. read -r major minor patch tweak <<<"$version"
numbers="${major:-0}, ${minor:-0}, ${patch:-0}, ${tweak:-0}"
for program in vantrel vantrel-cli; do
  info=$("$windres" -i "$program.exe" -O rc | sed -n '/VERSIONINFO/,$p')
  for expected in "FILEVERSION $numbers" "PRODUCTVERSION $numbers" \
                  "VALUE \"FileVersion\", \"$version\"" "VALUE \"ProductVersion\", \"$version\"" \
                  "VALUE \"ProductName\", \"Vantrel\"" "VALUE \"OriginalFilename\", \"$program.exe\"" \
                  "VALUE \"FileDescription\", \"Vantrel" "VALUE \"Translation\", 0x409, 1200"; do
    grep -qF "$expected" <<<"$info" || fail "$program.exe's version information lacks: $expected"
  done
done

[[ $failures -eq 0 ]] && echo "the Windows zip checks out"
