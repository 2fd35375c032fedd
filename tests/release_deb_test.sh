#!/usr/bin/env bash
# The Debian package of vantrel-cli, packed from this tree as make dist packs
# it: lintian finds no error; unpacked with dpkg-deb -x, its vantrel-cli
# passes selftest and tells the project's version, its manual page renders
# without warnings, bash completes with its completion; and make install
# lays out the same files, bytes and modes.
#   release_deb_test.sh BUILD-DIR SOURCE-DIR VERSION
set -uo pipefail
build=$1 source=$2 version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1
deb=$work/out/vantrel-cli_${version}_$(dpkg --print-architecture).deb
[[ -f $deb ]] || { cat "$work/cpack.log"; echo "FAILED: cpack made no $(basename "$deb")"; exit 1; }

# Warnings are shown (and listed in the README's release notes); errors fail.
lintian --fail-on error "$deb" 2>&1 | grep -v 'root privileges' | tee "$work/lintian.log"
[[ ${PIPESTATUS[0]} -eq 0 ]] || fail "lintian reports errors"

root=$work/root
dpkg-deb -x "$deb" "$root"
cli=$root/usr/bin/vantrel-cli
"$cli" selftest || fail "vantrel-cli selftest"
[[ $("$cli" --version) == "vantrel-cli $version" ]] || fail "--version does not say $version"
[[ $(zcat "$root/usr/share/doc/vantrel-cli/changelog.gz" | head -n 1) == "vantrel-cli ($version) "* ]] ||
  fail "the changelog does not start with version $version"

# The manual page, as man shows it: every section there, and no warning.
page=$root/usr/share/man/man1/vantrel-cli.1.gz
MANWIDTH=80 man -l "$page" >"$work/page.txt" 2>&1
warnings=$(zcat "$page" | groff -man -ww -z 2>&1)
[[ -z $warnings ]] || { echo "$warnings"; fail "groff warns about the manual page"; }
for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES SECURITY EXAMPLES "SEE ALSO"; do
  grep -qx "$section" "$work/page.txt" || fail "the manual page has no $section section"
done

# The completion, loaded by a plain bash. A row: the words typed (Tab after
# the last one) | the completions offered, in a folder with a.vtl, b.txt and
# sub/.
rows='vantrel-cli enc|encrypt
vantrel-cli |decrypt encrypt selftest
vantrel-cli decrypt -k b.txt |a.vtl sub
vantrel-cli encrypt -k b.txt |a.vtl b.txt sub
vantrel-cli encrypt -q|-q'
mkdir -p "$work/files/sub" && touch "$work/files/a.vtl" "$work/files/b.txt"
completions=$(cd "$work/files" && bash --norc --noprofile -c '
  source "$1"
  complete -p vantrel-cli || exit 1
  function=$(complete -p vantrel-cli | sed -nE "s/.* -F ([^ ]+) .*/\1/p")
  while IFS="|" read -r typed _; do
    read -ra COMP_WORDS <<<"$typed"
    [[ $typed == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$typed COMP_POINT=${#typed}
    "$function" 2>/dev/null  # compopt complains outside a real Tab
    printf "%s|%s\n" "$typed" "$(printf "%s\n" "${COMPREPLY[@]}" | sort | xargs)"
  done' bash "$root/usr/share/bash-completion/completions/vantrel-cli" <<<"$rows")
echo "$completions"
grep -qx 'complete -F [^ ]* vantrel-cli' <<<"$completions" || fail "bash does not load the completion"
while IFS='|' read -r typed expected; do
  grep -qxF "$typed|$expected" <<<"$completions" || fail "'$typed<Tab>' does not offer: $expected"
done <<<"$rows"

# make install PREFIX=...: the package's files, bytes and modes.
make -s -C "$source" install PREFIX="$work/installed/usr" >/dev/null ||
  fail "make install"
diff -r "$root" "$work/installed" || fail "make install and the package differ"
modes() { (cd "$1" && find . -printf '%m %p\n' | sort); }
diff <(modes "$root") <(modes "$work/installed") || fail "make install and the package give other modes"

[[ $failures -eq 0 ]] && echo "the Debian package checks out"
