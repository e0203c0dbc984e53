#!/usr/bin/env bash
# Builds the Debian package of drelk in build/package: only the program (no tests, tools
# or benchmarks), with Debian's hardening flags (dpkg-buildflags, every hardening feature
# on), then `cpack -G DEB`. Prints the package's path.
#
#   bash packaging/build-deb.sh [extra cmake arguments, e.g. -DDRELK_PACKAGE_CONTACT=...]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${DRELK_PACKAGE_BUILD:-$root/build/package}

command -v dpkg-buildflags >/dev/null || {
  echo "build-deb: dpkg-buildflags is missing (apt-get install dpkg-dev)" >&2
  exit 1
}
# CMake takes CXXFLAGS and LDFLAGS from the environment when it first configures a build
# tree; the preprocessor flags (_FORTIFY_SOURCE) go with the compiler's.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
export CXXFLAGS="$CPPFLAGS $CXXFLAGS"
rm -rf "$build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
  -DDRELK_BUILD_TOOLS=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON "$@" >/dev/null
cmake --build "$build" -j"$(nproc)" --target drelk >/dev/null
rm -f "$build"/drelk_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/drelk_*.deb
