#!/usr/bin/env bash
# Rebuild the ELF objects and archives of tests/data/elf from src/, byte for byte.
#
# Outputs (beside this script):
#   x86_64/*.o        gfortran and gcc, x86-64 (ELF64 little-endian); threads.o and
#                     scrinit.o with -fopenmp (THREADPRIVATE: a TLS common, and its
#                     BLOCK DATA in .tdata), field.o with -mcmodel=medium (a large-model
#                     COMMON), lto.o with -flto (a slim LTO object), labels.o from flang
#                     (weak string literals in COMDAT groups)
#   i386/*.o          gfortran -m32 and gcc -m32 (ELF32 little-endian)
#   s390x/probe.o     clang --target=s390x-linux-gnu (ELF64 big-endian)
#   ppc/probe.o       clang --target=powerpc-linux-gnu (ELF32 big-endian)
#   librod.a          GNU ar rcs: "/" symbol index, "//" long names
#   librod-thin.a     GNU ar rcsT: a thin archive naming x86_64/*.o
#   librod-bsd.a      llvm-ar --format=bsd: "#1/N" names, "__.SYMDEF" index
#   librod-sym64.a    llvm-ar --format=gnu with a "/SYM64/" index
#
# Tools (Debian 12):
#   apt-get install -y --no-install-recommends gfortran gcc gcc-multilib gfortran-multilib \
#       binutils clang-19 flang-19 llvm-19
#
# Sources are compiled from inside src/ by bare file name (the FILE symbol records only
# that name), without .ident; the LTO object's section names take their suffix from
# -frandom-seed; both archivers run in their deterministic modes.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export LC_ALL=C
export SOURCE_DATE_EPOCH=0
umask 022

FC=${FC:-gfortran}
CC=${CC:-gcc}
CLANG=${CLANG:-clang-19}
FLANG=${FLANG:-flang-new-19}
AR=${AR:-ar}
LLVM_AR=${LLVM_AR:-llvm-ar-19}
for tool in "$FC" "$CC" "$CLANG" "$FLANG" "$AR" "$LLVM_AR"; do
  command -v "$tool" >/dev/null || { echo "build.sh: missing $tool" >&2; exit 1; }
done

FFLAGS=(-c -O0 -fno-ident)
CFLAGS=(-c -O0 -fcommon -fno-ident -Wall)
members=(main solve consts boundary_conditions report)

cd "$here/src"
rm -rf "$here/x86_64" "$here/i386" "$here/s390x" "$here/ppc"
mkdir -p "$here/x86_64" "$here/i386" "$here/s390x" "$here/ppc"

# --- x86-64 ---------------------------------------------------------------
for u in "${members[@]}"; do
  "$FC" "${FFLAGS[@]}" -o "$here/x86_64/$u.o" "$u.f"
done
for u in threads scrinit; do
  "$FC" "${FFLAGS[@]}" -fopenmp -o "$here/x86_64/$u.o" "$u.f"
done
"$FC" "${FFLAGS[@]}" -flto -frandom-seed=rod -o "$here/x86_64/lto.o" lto.f
"$FLANG" -c -O0 -o "$here/x86_64/labels.o" labels.f90
"$CC" "${CFLAGS[@]}" -o "$here/x86_64/probe.o" probe.c
"$CC" "${CFLAGS[@]}" -mcmodel=medium -o "$here/x86_64/field.o" field.c

# --- i386 ------------------------------------------------------------------
for u in main solve consts; do
  "$FC" "${FFLAGS[@]}" -m32 -o "$here/i386/$u.o" "$u.f"
done
"$CC" "${CFLAGS[@]}" -m32 -o "$here/i386/probe.o" probe.c

# --- big-endian ------------------------------------------------------------
"$CLANG" --target=s390x-linux-gnu -c -O0 -fcommon -o "$here/s390x/probe.o" probe.c
"$CLANG" --target=powerpc-linux-gnu -c -O0 -fcommon -o "$here/ppc/probe.o" probe.c

# --- archives of the same members -------------------------------------------
cd "$here"
objects=()
for u in "${members[@]}"; do objects+=("x86_64/$u.o"); done
rm -f librod.a librod-thin.a librod-bsd.a librod-sym64.a
# ar stores bare member names; the thin archive stores the paths it was given.
(cd x86_64 && "$AR" rcsD ../librod.a "${members[@]/%/.o}")
"$AR" rcsDT librod-thin.a "${objects[@]}"
(cd x86_64 && "$LLVM_AR" rcs --format=bsd ../librod-bsd.a "${members[@]/%/.o}")
(cd x86_64 && SYM64_THRESHOLD=0 "$LLVM_AR" rcs --format=gnu ../librod-sym64.a "${members[@]/%/.o}")

echo "build.sh: done"
