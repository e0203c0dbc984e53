#!/usr/bin/env bash
# Rebuild the XCOFF objects and AIX big archives of tests/data/xcoff from src/, byte for byte.
#
# Outputs (beside this script):
#   ppc64/*.o      flang-new-19 --target=powerpc64-ibm-aix: 64-bit XCOFF (magic 0x01F7).
#                  sa.o and sb.o declare /BLK/ with 400 and 800 bytes, init.o is a BLOCK
#                  DATA of /BLK/, work.o a subroutine named like sa.o's /WORK/; sb.o and
#                  work.o declare blank COMMON (__BLNK__) of two sizes; consts.o is a
#                  BLOCK DATA of /CA/ and /CB/, two labels in one csect, that use.o declares
#   ppc/*.o        clang-19 --target=powerpc-ibm-aix -fcommon: 32-bit XCOFF (0x01DF) from C,
#                  tentative definitions as COMMON csects, a long name in the string table
#   libfort.a      llvm-ar --format=bigarchive of ppc64/*.o (a 64-bit symbol table)
#   libmixed.a     the same with ppc/*.o too (symbol tables of both classes)
#
# Tools (Debian 12): apt-get install -y --no-install-recommends flang-19 clang-19 llvm-19
#
# Sources are compiled from inside src/ by bare file name (the C_FILE entry records it);
# llvm-ar writes no dates, owners or groups into a big archive, and the modes come from
# the umask.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export LC_ALL=C
export SOURCE_DATE_EPOCH=0
umask 022

FLANG=${FLANG:-flang-new-19}
CLANG=${CLANG:-clang-19}
LLVM_AR=${LLVM_AR:-llvm-ar-19}
for tool in "$FLANG" "$CLANG" "$LLVM_AR"; do
  command -v "$tool" >/dev/null || { echo "build.sh: missing $tool" >&2; exit 1; }
done

fortran=(sa sb init work consts use)
c=(probe field)

cd "$here/src"
rm -rf "$here/ppc64" "$here/ppc"
mkdir -p "$here/ppc64" "$here/ppc"
for u in "${fortran[@]}"; do
  "$FLANG" --target=powerpc64-ibm-aix -c -O0 -o "$here/ppc64/$u.o" "$u.f90"
done
for u in "${c[@]}"; do
  "$CLANG" --target=powerpc-ibm-aix -fcommon -c -O0 -o "$here/ppc/$u.o" "$u.c"
done

cd "$here"
rm -f libfort.a libmixed.a
(cd ppc64 && "$LLVM_AR" rcs --format=bigarchive ../libfort.a "${fortran[@]/%/.o}")
# llvm-ar stores each member by its base name.
"$LLVM_AR" rcs --format=bigarchive libmixed.a $(printf "ppc64/%s.o " "${fortran[@]}") $(printf "ppc/%s.o " "${c[@]}")

echo "build.sh: done"
