#!/usr/bin/env bash
# Rebuild the objects of tests/data/alignment from src/, byte for byte: COMMON /VEC/ of two
# REAL*8 values declared by gfortran (which asks for 16-byte alignment), initialised by a
# gfortran BLOCK DATA (aligned as asked) and defined 4 bytes into a data section by an
# assembler file (aligned to 4, as a member of a packed C structure would be).
#
# Outputs (beside this script):
#   x86_64/vecdecl.o vecbd.o   gfortran (ELF64: the COMMON's st_value is 16)
#   x86_64/vecdecl-flang.o     flang (ELF64: st_value 8, another compiler's choice)
#   x86_64/vecdef.o            GNU as: vec_ at .data+4, .data aligned to 8
#   i386/vecdecl.o vecdef.o    the same with gfortran -m32 and as --32 (ELF32)
#   mingw-x86_64/vecdecl.obj vecbd.obj   x86_64-w64-mingw32-gfortran (COFF: the alignment
#                              asked for is .drectve's -aligncomm:"vec_",4)
#   mingw-x86_64/vecdef.obj    x86_64-w64-mingw32-as (.data aligned to 8, vec_ at 4)
#   macho/vecdecl.o vecdef.o   clang-19 -target x86_64-apple-macos11 (Mach-O: the COMMON's
#                              alignment is in n_desc; the definition's from its section)
#
# Tools (Debian 12):
#   apt-get install -y --no-install-recommends gfortran gfortran-multilib binutils \
#       gfortran-mingw-w64-x86-64 binutils-mingw-w64-x86-64 clang-19 flang-19
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export LC_ALL=C
export SOURCE_DATE_EPOCH=0
umask 022

FC=${FC:-gfortran}
FLANG=${FLANG:-flang-new-19}
AS=${AS:-as}
MINGW_FC=${MINGW_FC:-x86_64-w64-mingw32-gfortran}
MINGW_AS=${MINGW_AS:-x86_64-w64-mingw32-as}
CLANG=${CLANG:-clang-19}
for tool in "$FC" "$FLANG" "$AS" "$MINGW_FC" "$MINGW_AS" "$CLANG"; do
  command -v "$tool" >/dev/null || { echo "build.sh: missing $tool" >&2; exit 1; }
done

FFLAGS=(-c -O0 -fno-ident)

cd "$here/src"
rm -rf "$here/x86_64" "$here/i386" "$here/mingw-x86_64" "$here/macho"
mkdir -p "$here/x86_64" "$here/i386" "$here/mingw-x86_64" "$here/macho"
for u in vecdecl vecbd; do
  "$FC" "${FFLAGS[@]}" -o "$here/x86_64/$u.o" "$u.f"
  "$MINGW_FC" "${FFLAGS[@]}" -o "$here/mingw-x86_64/$u.obj" "$u.f"
done
"$FC" "${FFLAGS[@]}" -m32 -o "$here/i386/vecdecl.o" vecdecl.f
"$FLANG" -c -O0 -o "$here/x86_64/vecdecl-flang.o" vecdecl.f
"$AS" --64 -o "$here/x86_64/vecdef.o" vecdef-elf.s
"$AS" --32 -o "$here/i386/vecdef.o" vecdef-elf.s
"$MINGW_AS" -o "$here/mingw-x86_64/vecdef.obj" vecdef-coff.s
"$CLANG" -target x86_64-apple-macos11 -c -O0 -fcommon -o "$here/macho/vecdecl.o" vecdecl.c
"$CLANG" -target x86_64-apple-macos11 -c -o "$here/macho/vecdef.o" vecdef-macho.s
