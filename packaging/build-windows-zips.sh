#!/usr/bin/env bash
# Cross-builds drelk.exe for 32-bit and 64-bit Windows with mingw-w64 and packs each into
# its zip (drelk.exe, README.txt, LICENSE.txt, the manual as HTML and text): only the
# program is built, no tests. Prints the zips' paths.
#
#   bash packaging/build-windows-zips.sh
#   (apt-get install g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix groff)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
for preset in windows-i686 windows-x86_64; do
  build=build/zip-$preset
  rm -rf "$build"
  cmake --preset "$preset" -B "$build" -DBUILD_TESTING=OFF -DDRELK_BUILD_TOOLS=OFF >/dev/null
  cmake --build "$build" -j"$(nproc)" >/dev/null
  (cd "$build" && cpack -G ZIP >/dev/null)
  ls "$root/$build"/drelk-*.zip
done
