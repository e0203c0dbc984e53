#!/usr/bin/env bash
# Rebuild the Mach-O objects, archives and universal files of tests/data/macho from src/,
# byte for byte.
#
# Outputs (beside this script):
#   x86_64/*.o               clang -target x86_64-apple-macos11 (64-bit, little-endian)
#   arm64/*.o                clang -target arm64-apple-macos11; flux.o from flang
#   i386/main.o              clang -target i386-apple-macos10.13 (32-bit)
#   solve-universal.o        x86_64/solve.o and arm64/solve.o in one universal file,
#                            assembled by make_universal.py
#   libsolver.a              llvm-ar --format=darwin of the x86_64 units: "#1/N" names,
#                            a "__.SYMDEF" index
#   libsolver-sym64.a        the same with a "__.SYMDEF_64" index
#   libsolver-universal.a    a universal static library: the x86_64 and arm64 archives as
#                            its slices
#   dwarf/*.o                gfortran -g objects for macOS (x86_64, i386): the COMMON
#                            blocks of ../dwarf/src with their debug information
#
# Tools (Debian 12):
#   apt-get install -y --no-install-recommends clang-19 flang-19 llvm-19 python3 gfortran
#                                              gfortran-multilib
#
# Debian has no gfortran for macOS, and flang 19 describes no COMMON block: the dwarf/
# objects are gfortran's assembly for Linux turned into Mach-O assembly as gfortran for
# macOS lays it out (gfortran_to_macho.py: the __DWARF segment, section offsets as
# differences, '_' before symbols) and assembled by clang.
#
# The C sources lay their data out as a Fortran compiler lays out COMMON blocks
# (tentative definitions with -fcommon: Mach-O common symbols); the objects hold no paths,
# the archiver runs in its deterministic mode. When llvm-lipo is installed, the universal
# files are checked against its output.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export LC_ALL=C
export SOURCE_DATE_EPOCH=0
umask 022

CLANG=${CLANG:-clang-19}
FLANG=${FLANG:-flang-new-19}
LLVM_AR=${LLVM_AR:-llvm-ar-19}
LIPO=${LIPO:-llvm-lipo-19}
PYTHON=${PYTHON:-python3}
FC=${FC:-gfortran}
for tool in "$CLANG" "$FLANG" "$LLVM_AR" "$PYTHON" "$FC"; do
  command -v "$tool" >/dev/null || { echo "build.sh: missing $tool" >&2; exit 1; }
done

CFLAGS=(-c -O0 -fcommon -fno-ident -Wall)
units=(main solve consts boundary_conditions report)
members=(boundary_conditions consts report solve)

cd "$here/src"
rm -rf "$here/x86_64" "$here/arm64" "$here/i386"
mkdir -p "$here/x86_64" "$here/arm64" "$here/i386"
for u in "${units[@]}"; do
  "$CLANG" -target x86_64-apple-macos11 "${CFLAGS[@]}" -o "$here/x86_64/$u.o" "$u.c"
  "$CLANG" -target arm64-apple-macos11 "${CFLAGS[@]}" -o "$here/arm64/$u.o" "$u.c"
done
"$FLANG" --target=arm64-apple-macos11 -c -O0 -o "$here/arm64/flux.o" flux.f
"$CLANG" -target i386-apple-macos10.13 "${CFLAGS[@]}" -o "$here/i386/main.o" main.c

cd "$here"
rm -f solve-universal.o libsolver.a libsolver-sym64.a libsolver-universal.a
"$PYTHON" make_universal.py solve-universal.o x86_64/solve.o arm64/solve.o
(cd x86_64 && "$LLVM_AR" rcs --format=darwin ../libsolver.a "${members[@]/%/.o}")
(cd x86_64 && SYM64_THRESHOLD=0 "$LLVM_AR" rcs --format=darwin ../libsolver-sym64.a \
  "${members[@]/%/.o}")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
(cd arm64 && "$LLVM_AR" rcs --format=darwin "$scratch/libsolver-arm64.a" "${members[@]/%/.o}")
"$PYTHON" make_universal.py libsolver-universal.a libsolver.a "$scratch/libsolver-arm64.a"

rm -rf dwarf
mkdir -p dwarf
sources=$(cd "$here/../dwarf" && pwd)
FFLAGS=(-S -g -O0 -fno-ident -Wno-align-commons "-fdebug-prefix-map=$sources=.")
for target in x86_64:x86_64-apple-macos11: i386:i386-apple-macos10.13:-m32; do
  IFS=: read -r arch triple machine <<<"$target"
  units=(tally clash)
  [[ $arch == i386 ]] && units=(tally)
  for unit in "${units[@]}"; do
    (cd "$sources" && "$FC" "${FFLAGS[@]}" $machine -fno-pic -o "$scratch/$unit.s" "src/$unit.f")
    "$PYTHON" gfortran_to_macho.py "$scratch/$unit.s" "$scratch/$unit-macho.s"
    "$CLANG" -target "$triple" -c -o "dwarf/$unit-$arch.o" "$scratch/$unit-macho.s"
  done
done

if command -v "$LIPO" >/dev/null; then
  "$LIPO" -create x86_64/solve.o arm64/solve.o -output "$scratch/solve-universal.o"
  "$LIPO" -create libsolver.a "$scratch/libsolver-arm64.a" -output "$scratch/libsolver-universal.a"
  cmp solve-universal.o "$scratch/solve-universal.o"
  cmp libsolver-universal.a "$scratch/libsolver-universal.a"
fi

echo "build.sh: done"
