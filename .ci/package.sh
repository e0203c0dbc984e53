#!/usr/bin/env bash
# The program as users get it: the manual page renders cleanly, `cmake --install` gives
# exactly the program, its integrations and their pages, and the Debian package installs,
# runs the sample report and removes cleanly. Builds in build/package, apart from the test builds.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD
build=$root/build/package

fail() {
  echo "package: $*" >&2
  exit 1
}

# groff (not only groff-base) for the page check, man-db for man -l, dpkg-dev for the
# package's Depends line.
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
dpkg -s groff >/dev/null 2>&1 || need+=(groff)
command -v man >/dev/null || need+=(man-db)
command -v dpkg-shlibdeps >/dev/null || need+=(dpkg-dev)
command -v lintian >/dev/null || need+=(lintian)
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
# man and groff print locale complaints on stderr where the locale is not set up; C.UTF-8
# is always there.
export LC_ALL=C.UTF-8 DEBCONF_NOWARNINGS=yes

work=$(mktemp -d)
chmod 755 "$work"  # apt fetches the local .deb as its own user
installed=no
cleanup() {
  if [ "$installed" = yes ]; then
    DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq drelk >/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "-- build ($build) and package, as the README says"
# Only the program is built, with Debian's hardening flags.
deb_path=$(DRELK_PACKAGE_BUILD="$build" bash "$root/packaging/build-deb.sh")
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt"
title="Drelk COMMON Block Checker $version"
echo "   version $version"

echo "-- version strings"
banner=$("$build/drelk" -v)
expected_banner="$build/drelk: $title
    Version: $version"
[ "$banner" = "$expected_banner" ] || fail "drelk -v printed: $banner"
grep -aq "@(#)$title" "$build/drelk" || fail "no @(#) title in the binary"

echo "-- manual page"
page=$build/docs/drelk.1
# A placeholder is @NAME@; a versioned export such as vblk_@@DRELK_1 in the text is none.
grep -q '@[A-Z_][A-Z_]*@' "$page" && fail "unfilled placeholder in $page"
grep -q "^\.TH DRELK 1 .* \"drelk $version\"" "$page" || fail "the page footer lacks the version"
for source in "$root/docs/drelk.1" "$page"; do
  warnings=$(groff -ww -z -man "$source" 2>&1) || fail "groff failed on $source: $warnings"
  [ -z "$warnings" ] || fail "groff -ww warns on $source:
$warnings"
done
MANPAGER="cat" MANWIDTH=80 man --warnings=all -l "$page" >"$work/man.txt" 2>"$work/man.err" ||
  fail "man -l failed: $(cat "$work/man.err")"
[ ! -s "$work/man.err" ] || fail "man -l warns: $(cat "$work/man.err")"
grep -q '^NAME' "$work/man.txt" && grep -q '^EXIT STATUS' "$work/man.txt" ||
  fail "man -l rendered no page"
# Every switch of the usage text has its entry.
for switch in '-e[file]' '-o[file]' '-p' '-s' '-v' '-?'; do
  grep -qF -- "       $switch" "$work/man.txt" || fail "the page has no entry for $switch"
done

echo "-- cmake --install"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
files=$(cd "$work/prefix" && find . ! -type d | sort)
[ "$files" = "./bin/drelk
./bin/fpm-drelk
./share/cmake/drelk/drelkCheck.cmake
./share/cmake/drelk/drelkConfig.cmake
./share/cmake/drelk/drelkConfigVersion.cmake
./share/man/man1/drelk.1
./share/man/man1/fpm-drelk.1" ] || fail "cmake --install gave:
$files"

echo "-- Debian package"
debs=("$build"/drelk_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] && [ "${debs[0]}" = "$deb_path" ] ||
  fail "cpack made no single drelk_*.deb"
deb=$(basename "${debs[0]}")
case "$deb" in drelk_"$version"-*) ;; *) fail "package $deb is not of version $version" ;; esac
echo "   $deb"
cp "${debs[0]}" "$work/"
contents=$(dpkg-deb -c "$work/$deb" | awk '$1 !~ /^d/ {print $NF}' | sort)
[ "$contents" = "./usr/bin/drelk
./usr/bin/fpm-drelk
./usr/share/cmake/drelk/drelkCheck.cmake
./usr/share/cmake/drelk/drelkConfig.cmake
./usr/share/cmake/drelk/drelkConfigVersion.cmake
./usr/share/doc/drelk/changelog.Debian.gz
./usr/share/doc/drelk/changelog.gz
./usr/share/doc/drelk/copyright
./usr/share/man/man1/drelk.1.gz
./usr/share/man/man1/fpm-drelk.1.gz" ] || fail "the package holds:
$contents"
# Debian's own checks, every tag shown: the package must give none at all.
lintian_output=$(lintian --allow-root --pedantic -I --display-experimental "$work/$deb" 2>&1) ||
  fail "lintian failed: $lintian_output"
[ -z "$lintian_output" ] || fail "lintian reports:
$lintian_output"
echo "   lintian --pedantic: nothing to report"

if dpkg -s drelk >/dev/null 2>&1; then
  echo "   removing the drelk package installed before"
  DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq drelk >/dev/null
fi
(cd "$work" && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$deb" >/dev/null)
installed=yes
[ "$(command -v drelk)" = /usr/bin/drelk ] || fail "drelk is not /usr/bin/drelk after install"
[ "$(drelk -v)" = "drelk: $title
    Version: $version" ] || fail "installed drelk -v printed: $(drelk -v)"
MANPAGER="cat" man drelk >"$work/installed-man.txt" 2>&1 || fail "man drelk failed"
grep -q "drelk $version" "$work/installed-man.txt" || fail "man drelk shows no page"

echo "-- sample report with the installed drelk"
cd "$root/examples"
status=0
drelk *.obj >"$work/report.txt" 2>"$work/errors.txt" || status=$?
[ $status -eq 0 ] || fail "drelk *.obj exited $status: $(cat "$work/errors.txt")"
[ ! -s "$work/errors.txt" ] || fail "drelk *.obj reported: $(cat "$work/errors.txt")"
"$build/drelk" *.obj >"$work/built-report.txt"
cmp -s "$work/report.txt" "$work/built-report.txt" ||
  fail "the installed drelk reports otherwise than the built one"
grep -qx 'Drelk Error: Common Block _grid_ is declared with different sizes' "$work/report.txt" &&
  grep -qx 'Drelk Error: Common Block _setup_ conflicts with procedure _setup_ in setup.obj' \
    "$work/report.txt" &&
  [ "$(tail -n 1 "$work/report.txt")" = 'End of Analysis:  COMMON Block errors encountered.' ] ||
  fail "unexpected sample report:
$(cat "$work/report.txt")"
sed -n '1,12p' "$work/report.txt" | sed 's/^/   | /'

echo "-- the CI recipe of the user guide"
# With -w COMMON block errors make the exit status 1; a diagnostic makes it 255.
ci_status() {
  local status=0
  drelk -w -p "$@" >/dev/null 2>&1 || status=$?
  echo "$status"
}
[ "$(ci_status main setup)" = 0 ] || fail "the recipe fails on objects without COMMON block errors"
[ "$(ci_status '*' 'lib/*.lib')" = 1 ] || fail "the recipe passes objects with COMMON block errors"
[ "$(ci_status '*' missing)" = 255 ] || fail "the recipe passes a run with a diagnostic"

echo "-- remove"
DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq drelk >/dev/null
installed=no
! dpkg -s drelk >/dev/null 2>&1 || fail "drelk is still installed"
[ ! -e /usr/bin/drelk ] && [ ! -e /usr/share/man/man1/drelk.1.gz ] || fail "files left behind"
echo "-- package checks passed"
