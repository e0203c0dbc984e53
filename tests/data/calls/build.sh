#!/usr/bin/env bash
# Rebuild the objects of tests/data/calls from src/, byte for byte: a block named like a
# procedure that the objects call but none of them defines (CERNLIB's /FINT/ against its
# library function FINT), one named like a procedure only passed as an argument (GRID),
# and one named like a procedure that an object defines (TAB).
#
# Outputs (beside this script):
#   x86_64/*.o        gfortran (ELF64: calls are R_X86_64_PLT32 relocations)
#   i386/*.o          gfortran -m32 (ELF32: R_386_PLT32)
#   aarch64/*.o       clang-19 --target=aarch64-linux-gnu from the C sources (R_AARCH64_CALL26)
#   mingw-x86_64/*.obj  x86_64-w64-mingw32-gfortran (COFF: undefined symbols of function type)
#
# Tools (Debian 12):
#   apt-get install -y --no-install-recommends gfortran gfortran-multilib clang-19 \
#       gfortran-mingw-w64-x86-64
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export LC_ALL=C
export SOURCE_DATE_EPOCH=0
umask 022

FC=${FC:-gfortran}
MINGW_FC=${MINGW_FC:-x86_64-w64-mingw32-gfortran}
CLANG=${CLANG:-clang-19}
for tool in "$FC" "$MINGW_FC" "$CLANG"; do
  command -v "$tool" >/dev/null || { echo "build.sh: missing $tool" >&2; exit 1; }
done

FFLAGS=(-c -O0 -fno-ident)
units=(fintblk usef passf gridblk tab)

cd "$here/src"
rm -rf "$here/x86_64" "$here/i386" "$here/aarch64" "$here/mingw-x86_64"
mkdir -p "$here/x86_64" "$here/i386" "$here/aarch64" "$here/mingw-x86_64"
for u in "${units[@]}"; do
  "$FC" "${FFLAGS[@]}" -o "$here/x86_64/$u.o" "$u.f"
  "$FC" "${FFLAGS[@]}" -m32 -o "$here/i386/$u.o" "$u.f"
  "$MINGW_FC" "${FFLAGS[@]}" -o "$here/mingw-x86_64/$u.obj" "$u.f"
done
for u in fintblk calls; do
  "$CLANG" --target=aarch64-linux-gnu -c -O0 -fcommon -o "$here/aarch64/$u.o" "$u.c"
done
