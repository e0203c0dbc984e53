#!/usr/bin/env bash
# Rebuild the sample COFF objects and archives from examples/src.
#
# Outputs:
#   examples/*.obj                       i386 COFF objects (gfortran, gcc)
#   examples/lib/physics.lib             llvm-lib-19: both linker members + "//"
#   tests/data/archives/physics-llvm14.lib  llvm-lib (LLVM 14): first linker member + "//"
#   tests/data/archives/physics-gnu.a    GNU ar: "/" symbol index + "//" long names
#   tests/data/archives/imports.lib      llvm-dlltool-19: short import members
#   tests/data/archives/imports-gnu.a    GNU dlltool: import members as full COFF objects
#   tests/data/mingw-x86_64/*.obj        x86-64 COFF objects (gfortran): a procedure passed
#                                        as an argument is an undefined external of type 0
#
# Tools (Debian 12):
#   apt-get install -y --no-install-recommends gfortran-mingw-w64-i686 \
#       gcc-mingw-w64-i686 binutils-mingw-w64-i686 gfortran-mingw-w64-x86-64 llvm-19
# llvm-14 (for /usr/bin/llvm-lib) comes with Debian's default llvm.
#
# The build is meant to be byte-for-byte reproducible: sources are compiled
# from inside src/ by bare file name (the .file symbol records only that
# name), no debug info, no .ident section, and every archiver is run in
# its deterministic mode (zero time stamps, uid/gid 0).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
archives=$root/tests/data/archives

export LC_ALL=C
export SOURCE_DATE_EPOCH=0
umask 022

FC=${FC:-i686-w64-mingw32-gfortran}
FC64=${FC64:-x86_64-w64-mingw32-gfortran}
CC=${CC:-i686-w64-mingw32-gcc}
GNU_AR=${GNU_AR:-i686-w64-mingw32-ar}
GNU_DLLTOOL=${GNU_DLLTOOL:-i686-w64-mingw32-dlltool}
LLVM_LIB=${LLVM_LIB:-llvm-lib-19}
LLVM14_LIB=${LLVM14_LIB:-/usr/bin/llvm-lib-14}
LLVM_DLLTOOL=${LLVM_DLLTOOL:-/usr/lib/llvm-19/bin/llvm-dlltool}

for tool in "$FC" "$FC64" "$CC" "$GNU_AR" "$GNU_DLLTOOL" "$LLVM_LIB" "$LLVM14_LIB" "$LLVM_DLLTOOL"; do
    command -v "$tool" >/dev/null || { echo "build.sh: missing $tool" >&2; exit 1; }
done

FFLAGS=(-c -O0 -fno-ident)
CFLAGS=(-c -O0 -fcommon -fno-ident -Wall)

fortran_units=(main setup solver report pdata)
c_units=(wclock)

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# --- objects -----------------------------------------------------------
cd "$here/src"
for u in "${fortran_units[@]}"; do
    "$FC" "${FFLAGS[@]}" -o "$stage/$u.obj" "$u.f"
done
for u in "${c_units[@]}"; do
    "$CC" "${CFLAGS[@]}" -o "$stage/$u.obj" "$u.c"
done
for u in "${fortran_units[@]}" "${c_units[@]}"; do
    cp "$stage/$u.obj" "$here/$u.obj"
done

# --- libraries of the same three members --------------------------------
# solver.obj is packed as explicit_solver.obj: a member name longer than
# 15 characters does not fit the 16-byte header field and goes to "//".
members=(setup.obj explicit_solver.obj report.obj)
mkdir "$stage/lib"
cp "$stage/setup.obj" "$stage/lib/setup.obj"
cp "$stage/solver.obj" "$stage/lib/explicit_solver.obj"
cp "$stage/report.obj" "$stage/lib/report.obj"
cd "$stage/lib"

# llvm-lib stores each member under its path relative to the output
# file, so every archive is written here, beside its members, and copied.
"$LLVM_LIB" /out:physics.lib "${members[@]}"
"$LLVM14_LIB" /out:physics-llvm14.lib "${members[@]}"
"$GNU_AR" rcsD physics-gnu.a "${members[@]}"
mkdir -p "$here/lib" "$archives"
cp physics.lib "$here/lib/physics.lib"
cp physics-llvm14.lib physics-gnu.a "$archives/"

# --- import libraries ----------------------------------------------------
# GNU dlltool leaves its temporary objects in the current directory
# (named from the -t prefix, which also names the members).
mkdir "$stage/imp"
cp "$here/src/thermo.def" "$stage/imp/thermo.def"
cd "$stage/imp"
"$LLVM_DLLTOOL" -m i386 -d thermo.def -l imports.lib
"$GNU_DLLTOOL" --deterministic-libraries -t thermo -d thermo.def -l imports-gnu.a
cp imports.lib imports-gnu.a "$archives/"

# --- x86-64 objects --------------------------------------------------------
x64=$root/tests/data/mingw-x86_64
cd "$x64/src"
for u in drive flux; do
    "$FC64" "${FFLAGS[@]}" -o "$stage/$u.obj" "$u.f"
    cp "$stage/$u.obj" "$x64/$u.obj"
done

echo "build.sh: done"
