#!/usr/bin/env bash
# Rebuild the LLVM bitcode objects and archives of tests/data/bitcode from src/, byte for
# byte.
#
# Outputs (beside this script):
#   x86_64-linux/*.o   flang-new -flto and clang -flto -fcommon for x86_64-linux-gnu:
#                      raw bitcode ("BC" 0xC0DE)
#   arm64-macos/*.o    the same for arm64-apple-macos11: bitcode in its wrapper header
#   x86_64-macos/*.o   the same for x86_64-apple-macos11: bitcode in its wrapper header
#   libbc-gnu.a        llvm-ar --format=gnu of the x86_64-linux objects
#   libbc-darwin.a     llvm-ar --format=darwin of the arm64-macos objects
#   libbc-thin.a       llvm-ar --thin of the x86_64-linux objects (members name the files)
#
# The units: sa.f and sb.f declare /BLK/ with 400 and 800 bytes and blank COMMON with 12
# and 40; consts.f is a BLOCK DATA that initialises /CONSTS/, which solve.f declares;
# clash.f declares /SOLVE/, a block named like the procedure SOLVE; cblocks.c lays out
# C data as COMMON blocks (tentative definitions with -fcommon) beside initialised data.
#
# Tools (Debian 12): apt-get install -y --no-install-recommends flang-19 clang-19 llvm-19
# The bitcode names its producer ("LLVM19.1.7"): another LLVM writes other bytes.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export LC_ALL=C
export SOURCE_DATE_EPOCH=0
umask 022

CLANG=${CLANG:-clang-19}
FLANG=${FLANG:-flang-new-19}
LLVM_AR=${LLVM_AR:-llvm-ar-19}
for tool in "$CLANG" "$FLANG" "$LLVM_AR"; do
  command -v "$tool" >/dev/null || { echo "build.sh: missing $tool" >&2; exit 1; }
done

fortran=(sa sb consts solve clash)
targets=(x86_64-linux:x86_64-linux-gnu arm64-macos:arm64-apple-macos11
         x86_64-macos:x86_64-apple-macos11)

cd "$here/src"
for target in "${targets[@]}"; do
  IFS=: read -r folder triple <<<"$target"
  rm -rf "${here:?}/$folder"
  mkdir -p "$here/$folder"
  for unit in "${fortran[@]}"; do
    "$FLANG" --target="$triple" -flto -c -O0 -o "$here/$folder/$unit.o" "$unit.f"
  done
  "$CLANG" --target="$triple" -flto -fcommon -fno-ident -c -O0 -o "$here/$folder/cblocks.o" \
    cblocks.c
done

cd "$here"
rm -f libbc-gnu.a libbc-darwin.a libbc-thin.a
members=("${fortran[@]/%/.o}" cblocks.o)
(cd x86_64-linux && "$LLVM_AR" rcs --format=gnu ../libbc-gnu.a "${members[@]}")
(cd arm64-macos && "$LLVM_AR" rcs --format=darwin ../libbc-darwin.a "${members[@]}")
"$LLVM_AR" rcs --thin libbc-thin.a "${members[@]/#/x86_64-linux/}"

echo "build.sh: done"
