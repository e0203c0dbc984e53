#!/usr/bin/env bash
# Writes the seeds of drelk_fuzz_dwarf (fuzz/corpus/dwarf): the debug sections of the real
# gfortran -g objects and linked programs in tests/data, in the target's input layout (a flags byte, then each
# section as a little-endian u32 length and its bytes). i386 ELF and COFF objects keep their
# relocations' addends in the fields, and Mach-O needs none, so the bytes read as they stand.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$root/fuzz/corpus/dwarf"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
sections=(info abbrev str line_str line str_offsets addr)

# seed OBJECT NAME PREFIX: the sections named PREFIX<section> of OBJECT into $out/NAME.
seed() {
  local object=$1 name=$2 prefix=$3
  printf '\0' >"$work/seed"
  for section in "${sections[@]}"; do
    rm -f "$work/section"
    llvm-objcopy-19 --dump-section="$prefix$section=$work/section" "$object" /dev/null \
      2>/dev/null || : >"$work/section"
    python3 -c 'import struct,sys; sys.stdout.buffer.write(struct.pack("<I", int(sys.argv[1])))' \
      "$(stat -c %s "$work/section")" >>"$work/seed"
    cat "$work/section" >>"$work/seed"
  done
  cp "$work/seed" "$out/$name"
}

for object in "$root"/tests/data/dwarf/i386/*.o; do
  seed "$object" "i386-$(basename "$object" .o)" .debug_
done
for object in "$root"/tests/data/dwarf/mingw-x86_64/*.obj; do
  seed "$object" "mingw-x86_64-$(basename "$object" .obj)" .debug_
done
for object in "$root"/tests/data/macho/dwarf/*.o; do
  # Mach-O section names stop at 16 characters: __debug_str_offs.
  seed "$object" "macho-$(basename "$object" .o)" __DWARF,__debug_
done
# Linked programs' debug information, read under -m: DW_OP_addr holds final addresses, and
# nothing is relocated (an ELF program, mingw-w64 programs of both classes).
seed "$root/tests/data/shlib/layouts-exec" linked-elf .debug_
seed "$root/tests/data/shlib/layouts.exe" linked-pe .debug_
seed "$root/tests/data/shlib/layouts32.exe" linked-pe32 .debug_
echo "dwarf seeds: $(ls "$out" | wc -l) in $out"
