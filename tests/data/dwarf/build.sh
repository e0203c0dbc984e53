#!/usr/bin/env bash
# Rebuild the objects of tests/data/dwarf from src/, byte for byte: COMMON blocks described
# by the compilers' debug information (-g), for drelk -m.
#
# Outputs (beside this script):
#   x86_64/*.o          gfortran -g, ELF64 (DWARF 5; RELA relocations carry the offsets)
#   x86_64/tally4.o     tally.f with -gdwarf-4
#   x86_64/nodebug.o    shrunk.f without -g: a declaration without debug information
#   i386/*.o            gfortran -m32 -g, ELF32 (REL relocations: offsets in the fields)
#   mingw-x86_64/*.obj  x86_64-w64-mingw32-gfortran -g (COFF, long section names)
#   mingw-i686/*.obj    i686-w64-mingw32-gfortran -g (COFF, symbols with '_')
#   compressed/         tally.f and shrunk.f with compressed debug sections (-gz):
#     zlib/*.o            gfortran -gz=zlib (SHF_COMPRESSED, ELFCOMPRESS_ZLIB)
#     zlib-gnu/*.o        gfortran -gz=zlib-gnu (.zdebug_ sections)
#     zstd/*.o            objcopy --compress-debug-sections=zstd of x86_64/*.o (Debian 12's
#                         gcc has no -gz=zstd; binutils 2.40 writes ELFCOMPRESS_ZSTD)
#     mingw-x86_64/*.obj  x86_64-w64-mingw32-gfortran -gz (COFF .zdebug_ sections)
#
# Sources:
#   tally.f   /TALLY/ (INTEGER, REAL*8 array, CHARACTER*8) in two routines, blank COMMON
#   shrunk.f  /TALLY/ with two INTEGERs and a shorter array: another size
#   clash.f   /PAIR/ as REAL*8 D in one routine, INTEGER I, J in the other: equal sizes
#   grid.f90  INTEGER*2, LOGICAL, COMPLEX*16, REAL*4 F(-2:2,3), CHARACTER*4 T(2), a
#             sequence type, blank COMMON of another size
#   a.f, b.f, c.f  /Q/ as INTEGER IQ(10); as IQ(10) with NW EQUIVALENCEd to IQ(2) (a view of
#             the same bytes, no difference); as REAL X(10) (the same bytes as another type)
#   exta.f, extb.f  /EXT/ as N, X(10) and as N, X(5): a routine declares only its start
#   bd.f, u.f  /BLK/ initialised by a BLOCK DATA with 40 bytes, declared with 80 elsewhere
#   pairp.f   a subroutine PAIR, named like clash.f's /PAIR/
#   both.f    /BLK/ in a routine and a BLOCK DATA of one file (x86_64/both.o): gfortran
#             describes each member twice, under the routine
#
# Tools (Debian 12):
#   apt-get install -y --no-install-recommends gfortran gfortran-multilib \
#       gfortran-mingw-w64-x86-64 gfortran-mingw-w64-i686
#
# Sources are compiled from this folder as src/NAME, without .ident; the compilation
# directory is recorded as "." (-fdebug-prefix-map), so that no path of this machine
# is stored.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export LC_ALL=C
export SOURCE_DATE_EPOCH=0
umask 022

FC=${FC:-gfortran}
FC_W64=${FC_W64:-x86_64-w64-mingw32-gfortran}
FC_W32=${FC_W32:-i686-w64-mingw32-gfortran}
for tool in "$FC" "$FC_W64" "$FC_W32"; do
  command -v "$tool" >/dev/null || { echo "build.sh: missing $tool" >&2; exit 1; }
done

FFLAGS=(-c -g -O0 -fno-ident -Wno-align-commons "-fdebug-prefix-map=$here=.")
units=(tally.f shrunk.f clash.f grid.f90 a.f b.f c.f exta.f extb.f bd.f u.f pairp.f)

cd "$here"
rm -rf x86_64 i386 mingw-x86_64 mingw-i686 compressed
mkdir -p x86_64 i386 mingw-x86_64 mingw-i686 compressed/{zlib,zlib-gnu,zstd,mingw-x86_64}
for source in "${units[@]}"; do
  unit=${source%.*}
  "$FC" "${FFLAGS[@]}" -o "x86_64/$unit.o" "src/$source"
  "$FC" "${FFLAGS[@]}" -m32 -o "i386/$unit.o" "src/$source"
  "$FC_W64" "${FFLAGS[@]}" -o "mingw-x86_64/$unit.obj" "src/$source"
  "$FC_W32" "${FFLAGS[@]}" -o "mingw-i686/$unit.obj" "src/$source"
done
"$FC" "${FFLAGS[@]}" -gdwarf-4 -o x86_64/tally4.o src/tally.f
"$FC" "${FFLAGS[@]}" -o x86_64/both.o src/both.f
"$FC" -c -O0 -fno-ident -o x86_64/nodebug.o src/shrunk.f
for unit in tally shrunk; do
  "$FC" "${FFLAGS[@]}" -gz=zlib -o "compressed/zlib/$unit.o" "src/$unit.f"
  "$FC" "${FFLAGS[@]}" -gz=zlib-gnu -o "compressed/zlib-gnu/$unit.o" "src/$unit.f"
  objcopy --compress-debug-sections=zstd "x86_64/$unit.o" "compressed/zstd/$unit.o"
  "$FC_W64" "${FFLAGS[@]}" -gz -o "compressed/mingw-x86_64/$unit.obj" "src/$unit.f"
done
