#!/usr/bin/env bash
# Rebuild the shared libraries and program objects of tests/data/shlib from src/, byte for
# byte.
#
# Outputs (beside this script):
#   mpiprog.o        gfortran: a program that includes Open MPI's mpif.h (Debian's
#                    libopenmpi-dev), declaring COMMON /MPI_FORTRAN_STATUS_IGNORE/ and
#                    /MPI_FORTRAN_STATUSES_IGNORE/ with 24 bytes, which libmpi.so defines
#                    with 8; the test checks it against the installed libmpi.so
#   libblk.so        gfortran -shared: a BLOCK DATA defining shared_ (40 bytes)
#   libver.so        gfortran -shared with a version script: vblk_@@DRELK_1 (8 bytes)
#   user.o           gfortran: declares shared_ (88 bytes) and vblk_ (16 bytes)
#   pieprog          gfortran: main.f and user.f linked as a position-independent program
#                    (ET_DYN, as a shared library is), which stays refused
#   layouts-prog     gfortran -g: a program linked from tests/data/dwarf/x86_64's objects
#                    (their COMMON layouts known) and layouts.f, for -m on a linked program
#                    (position-independent: ET_DYN); layouts-exec the same with -no-pie
#                    (ET_EXEC)
#   shared.dll       x86_64-w64-mingw32-gfortran -shared with shared.def: the BLOCK DATA's
#                    shared_ exported as DATA
#   shared-stripped.dll  the same DLL stripped of its symbols (a small fuzz seed)
#   libshared.dll.a  its import library (GNU dlltool's long members)
#   shared.lib       the same exports as short import members (llvm-dlltool)
#   userw.obj        mingw-w64 gfortran: user.f
#   layouts.exe      x86_64-w64-mingw32-gfortran -g: a program linked from
#                    tests/data/dwarf/mingw-x86_64's objects (their COMMON layouts known), for -m
#                    on a PE program's DWARF; linked without the C and Fortran run-time
#                    libraries (-nostdlib, entry sa_) so that it holds only those objects'
#                    debug information
#   layouts32.exe    the same by i686-w64-mingw32-gfortran from tests/data/dwarf/mingw-i686's
#                    objects (PE32: a 32-bit ImageBase, symbols with a leading '_')
#   ext.exe          the same of exta and extb alone (entry exta_): a program with DWARF small
#                    enough for a fuzz seed
#   layouts.dll      the same for a DLL of exta, extb, bd and u (-shared -nostdlib): it exports
#                    ext_ and blk_, and its DWARF describes their layouts
#   libmac.dylib     clang-19 for x86_64 macOS, linked by ld64.lld-19: exports _shared_ and
#                    _counter_ (data) and _bump_ (code)
#   macuser.o        clang-19 for x86_64 macOS, -fcommon: declares _shared_ (88 bytes)
#   macuser2.o       the same with _shared_ declared with 40 bytes
#   layouts-exec.dSYM/  a .dSYM bundle whose companion file (Contents/Resources/DWARF/
#                    layouts-exec, Mach-O MH_DSYM) carries layouts-exec's DWARF: no compiler
#                    here writes Fortran COMMON blocks' DWARF for Mach-O (flang-new-19 describes
#                    none), so src/dsym.py copies the ELF program's debug sections byte for byte
#                    into a __DWARF segment and its symbols of .text, .data and .bss into the
#                    symbol table, at the same addresses, and yaml2obj-19 writes the file
#   macprog, macprog.dSYM/  clang-19 -g for x86_64 macOS (src/macprog.c) linked by
#                    ld64.lld-19, and the bundle dsymutil-19 makes of it: a real dSYM whose
#                    DWARF describes no COMMON block
#
# Tools (Debian 12):
#   apt-get install -y --no-install-recommends gfortran libopenmpi-dev gfortran-mingw-w64 \
#       gfortran-mingw-w64-i686 clang-19 lld-19 llvm-19 python3
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export LC_ALL=C
export SOURCE_DATE_EPOCH=0
umask 022

FC=${FC:-gfortran}
MINGW_FC=${MINGW_FC:-x86_64-w64-mingw32-gfortran}
MINGW32_FC=${MINGW32_FC:-i686-w64-mingw32-gfortran}
MINGW_STRIP=${MINGW_STRIP:-x86_64-w64-mingw32-strip}
CLANG=${CLANG:-clang-19}
DLLTOOL=${DLLTOOL:-llvm-dlltool-19}
MPI_INCLUDE=${MPI_INCLUDE:-/usr/lib/x86_64-linux-gnu/openmpi/include}
for tool in "$FC" "$MINGW_FC" "$MINGW32_FC" "$MINGW_STRIP" "$CLANG" "$DLLTOOL" ld64.lld-19 dsymutil-19 \
    yaml2obj-19 python3; do
  command -v "$tool" >/dev/null || { echo "build.sh: missing $tool" >&2; exit 1; }
done
[ -f "$MPI_INCLUDE/mpif.h" ] || { echo "build.sh: missing $MPI_INCLUDE/mpif.h" >&2; exit 1; }

FFLAGS=(-O0 -fno-ident)
LDFLAGS=(-Wl,--build-id=none -Wl,--hash-style=gnu)
cd "$here/src"

# --- ELF ------------------------------------------------------------------
"$FC" -c "${FFLAGS[@]}" -I"$MPI_INCLUDE" -o "$here/mpiprog.o" mpiprog.f
"$FC" -c "${FFLAGS[@]}" -o "$here/user.o" user.f
"$FC" -shared -fPIC "${FFLAGS[@]}" "${LDFLAGS[@]}" -o "$here/libblk.so" blkdata.f
"$FC" -shared -fPIC "${FFLAGS[@]}" "${LDFLAGS[@]}" -Wl,--version-script=vers.map \
    -o "$here/libver.so" blkver.f
"$FC" "${FFLAGS[@]}" "${LDFLAGS[@]}" -pie -o "$here/pieprog" main.f user.f
dwarf="$here/../dwarf/x86_64"
"$FC" -g "${FFLAGS[@]}" "${LDFLAGS[@]}" "-fdebug-prefix-map=$here=." -Wno-align-commons \
    -o "$here/layouts-prog" layouts.f "$dwarf"/{tally,clash,grid,a,b,c,exta,extb,bd,u}.o
"$FC" -g "${FFLAGS[@]}" "${LDFLAGS[@]}" "-fdebug-prefix-map=$here=." -Wno-align-commons \
    -no-pie -o "$here/layouts-exec" layouts.f "$dwarf"/{tally,clash,grid,a,b,c,exta,extb,bd,u}.o

# --- PE -------------------------------------------------------------------
"$MINGW_FC" -c "${FFLAGS[@]}" -o "$here/dllblk.obj" blkdata.f
"$MINGW_FC" -c "${FFLAGS[@]}" -o "$here/userw.obj" user.f
"$MINGW_FC" -shared -Wl,--no-insert-timestamp -o "$here/shared.dll" "$here/dllblk.obj" \
    shared.def -Wl,--out-implib,"$here/libshared.dll.a"
"$DLLTOOL" -m i386:x86-64 -D shared.dll -d shared.def -l "$here/shared.lib"
rm "$here/dllblk.obj"
"$MINGW_STRIP" -o "$here/shared-stripped.dll" "$here/shared.dll"
mingw="$here/../dwarf/mingw-x86_64"
"$MINGW_FC" -g "${FFLAGS[@]}" -nostdlib -Wl,--no-insert-timestamp -Wl,-e,sa_ \
    -o "$here/layouts.exe" "$mingw"/{tally,clash,grid,a,b,c,exta,extb,bd,u}.obj
"$MINGW32_FC" -g "${FFLAGS[@]}" -nostdlib -Wl,--no-insert-timestamp -Wl,-e,_sa_ \
    -o "$here/layouts32.exe" "$mingw/../mingw-i686"/{tally,clash,grid,a,b,c,exta,extb,bd,u}.obj
"$MINGW_FC" -g "${FFLAGS[@]}" -nostdlib -Wl,--no-insert-timestamp -Wl,-e,exta_ \
    -o "$here/ext.exe" "$mingw"/{exta,extb}.obj
"$MINGW_FC" -shared -g "${FFLAGS[@]}" -nostdlib -Wl,--no-insert-timestamp -Wl,-e,0 \
    -o "$here/layouts.dll" "$mingw"/{exta,extb,bd,u}.obj

# --- Mach-O ---------------------------------------------------------------
"$CLANG" -target x86_64-apple-macos11 -shared -fuse-ld=lld -nostdlib \
    -Wl,-platform_version,macos,11.0,11.0 -Wl,-install_name,@rpath/libmac.dylib \
    -o "$here/libmac.dylib" macblk.c
"$CLANG" -target x86_64-apple-macos11 -fcommon -c -o "$here/macuser.o" macuser.c
"$CLANG" -target x86_64-apple-macos11 -fcommon -c -o "$here/macuser2.o" macuser2.c

# --- Mach-O debug companions (.dSYM) ---------------------------------------
rm -rf "$here/layouts-exec.dSYM" "$here/macprog.dSYM"
mkdir -p "$here/layouts-exec.dSYM/Contents/Resources/DWARF"
python3 dsym.py "$here/layouts-exec" > "$here/layouts-exec.yaml"
yaml2obj-19 "$here/layouts-exec.yaml" -o "$here/layouts-exec.dSYM/Contents/Resources/DWARF/layouts-exec"
rm "$here/layouts-exec.yaml"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp macprog.c "$work/"
(
  cd "$work"
  "$CLANG" -target x86_64-apple-macos11 -g -fcommon -fdebug-prefix-map="$work=." -c macprog.c
  ld64.lld-19 -arch x86_64 -platform_version macos 11.0 11.0 -e _start -oso_prefix . \
      -o macprog macprog.o
  dsymutil-19 macprog -o macprog.dSYM
)
cp "$work/macprog" "$here/macprog"
cp -r "$work/macprog.dSYM" "$here/macprog.dSYM"
sed 's/com\.apple\.xcode\.dsym\.macprog/com.apple.xcode.dsym.layouts-exec/' \
    "$here/macprog.dSYM/Contents/Info.plist" > "$here/layouts-exec.dSYM/Contents/Info.plist"
