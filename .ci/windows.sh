#!/usr/bin/env bash
# The Windows build in CI: installs what a fresh Debian 12 machine lacks, cross-builds the
# 32-bit console drelk.exe with mingw-w64 (preset windows-i686) and runs its unit and
# end-to-end tests under wine. With --x86_64 it also cross-builds the 64-bit preset. Where
# the kernel cannot run 32-bit programs it says so and tests the 64-bit build under wine64
# instead (DRELK_WINDOWS_64=1 does the same on any machine).
#
#   bash .ci/windows.sh [--x86_64]
set -euo pipefail
cd "$(dirname "$0")/.."

build_x86_64=false
for argument in "$@"; do
  case "$argument" in
    --x86_64) build_x86_64=true ;;
    *) echo "usage: $0 [--x86_64]" >&2; exit 2 ;;
  esac
done

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# The "-posix" compilers (POSIX thread model, which GoogleTest needs), GoogleTest's sources
# to build for Windows, the locale definitions for the double-byte path tests, and wine
# with its 32-bit and 64-bit loaders.
packages=(cmake make g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix googletest locales
          wine wine32:i386 wine64)
missing=()
for package in "${packages[@]}"; do
  installed "$package" || missing+=("$package")
done
if ((${#missing[@]} > 0)); then
  echo "== installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  # A mirror in the middle of a sync serves an index of the wrong size for a while: try
  # again, then go on with the indexes that did load (the install says if they lack a
  # package).
  for attempt in 1 2 3; do
    apt-get update -qq && break
    if [ "$attempt" -eq 3 ]; then
      echo "== apt-get update failed three times; installing from the indexes that loaded"
      break
    fi
    echo "== apt-get update failed (attempt $attempt), trying again in 20 s"
    sleep 20
  done
  if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
         "${missing[@]}"; then
    # Without a current i386 index the 32-bit wine cannot be installed: the 64-bit build is
    # then tested under wine64, and that is said.
    without_wine32=()
    for package in "${missing[@]}"; do
      [ "$package" = "wine32:i386" ] || without_wine32+=("$package")
    done
    echo "== 32-bit wine cannot be installed from the indexes that loaded: testing the 64-bit"
    echo "   build under wine64 instead"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      "${without_wine32[@]}"
    export DRELK_WINDOWS_64=1
  fi
fi

# The 32-bit drelk.exe is the main build, tested under 32-bit wine. A kernel built without
# IA-32 emulation cannot run 32-bit programs at all (wine's 32-bit loader fails with exit
# status 126): there the 64-bit build is tested under wine64 instead, and that is said.
preset=windows-i686
export WINEARCH=win32
if [ "${DRELK_WINDOWS_64:-0}" = 1 ]; then
  preset=windows-x86_64
  export WINEARCH=win64
  build_x86_64=false
elif ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "== this machine's kernel cannot run 32-bit programs (the 32-bit wine loader does not"
  echo "   start), so the 32-bit drelk.exe cannot be tested here: testing the 64-bit build"
  echo "   under wine64 instead"
  preset=windows-x86_64
  export WINEARCH=win64
  build_x86_64=false
fi

echo "== cross-building drelk.exe ($preset)"
cmake --preset "$preset"
cmake --build --preset "$preset"

# The prefix lives in the build tree, away from the user's ~/.wine, and matches what the
# test preset sets.
export WINEPREFIX="$PWD/build/wine-${preset#windows-}"
export WINEDEBUG=-all
# No Mono or Gecko installer at the first start: the tests need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
probe=build/$preset/drelk.exe

start_wine() {
  # A server left running for this prefix would keep `wineserver -w` waiting for ever.
  wineserver -k 2>/dev/null || true
  wine wineboot --init </dev/null >/dev/null 2>&1
  wineserver -w
  # ctest waits for every process that holds a test's output open. A wineserver (and the
  # services it starts) spawned by the first test would inherit that output and outlive
  # the test, so the server and the services are started here, on /dev/null.
  wineserver -p </dev/null >/dev/null 2>&1
  wine cmd /c exit </dev/null >/dev/null 2>&1
}

trap 'wineserver -k 2>/dev/null || true' EXIT
start_wine
# A prefix made before wine32 was installed cannot run 32-bit programs: make it anew.
if ! wine "$probe" -v </dev/null 2>/dev/null | grep -q 'Version:'; then
  echo "== the wine prefix cannot run drelk.exe; making it anew"
  wineserver -k || true
  rm -rf "$WINEPREFIX"
  start_wine
  if ! wine "$probe" -v </dev/null | grep -q 'Version:'; then
    echo "wine cannot run $probe, even in a new prefix: see the output above" >&2
    exit 1
  fi
fi

echo "== testing drelk.exe ($preset) under wine"
# Wine now and then fails to start a test's program at all (the test ends in a few
# hundredths of a second with no output): a failed test is run once more, and a fault of
# drelk's fails both times.
ctest --preset "$preset" -j2 --repeat until-pass:2

# Paths again in code page 932 (Shift-JIS), whose trail bytes include the code of '\'. Wine
# takes the code page from the locale's name and needs the locale for non-ASCII file names.
echo "== path tests under wine in code page 932"
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
dbcs_log=build/$preset/code-page-932.log
LC_ALL=ja_JP.UTF-8 ctest --preset "$preset" -j2 --repeat until-pass:2 \
  -R '^(DoubleByteCodePage|SplitPath|FileSystem|InputExpansion|Platform)\.' | tee "$dbcs_log"
if grep -q 'DoubleByteCodePage.*Skipped' "$dbcs_log"; then
  echo "the double-byte path tests did not run in code page 932" >&2
  exit 1
fi

if $build_x86_64; then
  echo "== cross-building the 64-bit drelk.exe (windows-x86_64)"
  cmake --preset windows-x86_64
  cmake --build --preset windows-x86_64
fi
