#!/usr/bin/env python3
"""Assembles a universal ("fat") Mach-O file from thin ones, as lipo -create does.

    make_universal.py OUTPUT INPUT...

Each input is a Mach-O file, or an archive of Mach-O objects: its CPU type and subtype are
read from its Mach-O header (an archive's from its first Mach-O member). The output is a
big-endian fat_header (magic 0xCAFEBABE, the number of slices), one 20-byte fat_arch
record a slice (cputype, cpusubtype, offset, size, align), then the slices in the order
given, each at an offset aligned to 2^align, zeros in between, as llvm-lipo lays them out:
an object is aligned to the page size (2^14 for ARM processors, 2^12 for the others), an
archive to the word size of its objects (2^3 for 64-bit, 2^2 for 32-bit ones).
"""
import struct
import sys

FAT_MAGIC = 0xCAFEBABE
MACHO_MAGICS = {
    b"\xfe\xed\xfa\xce": ">", b"\xfe\xed\xfa\xcf": ">",
    b"\xce\xfa\xed\xfe": "<", b"\xcf\xfa\xed\xfe": "<",
}
CPU_TYPE_ARM = 12
CPU_ARCH_MASK = 0xFF000000
CPU_ARCH_ABI64 = 0x01000000


def cpu_of_macho(data, at=0):
    order = MACHO_MAGICS.get(data[at:at + 4])
    if order is None:
        return None
    return struct.unpack_from(order + "II", data, at + 4)


def cpu_of_archive(data):
    """The CPU of an archive's first Mach-O member: "#1/N" names hold the name in the data."""
    at = 8
    while at + 60 <= len(data):
        header = data[at:at + 60]
        size = int(header[48:58].decode().strip())
        start = at + 60
        name = header[:16].decode(errors="replace").strip()
        if name.startswith("#1/"):
            start += int(name[3:])
        cpu = cpu_of_macho(data, start)
        if cpu is not None:
            return cpu
        at += 60 + size + (size & 1)
    return None


def main(argv):
    if len(argv) < 3:
        sys.exit("usage: make_universal.py OUTPUT INPUT...")
    slices = []
    for path in argv[2:]:
        with open(path, "rb") as f:
            data = f.read()
        archive = data.startswith(b"!<arch>\n")
        cpu = cpu_of_archive(data) if archive else cpu_of_macho(data)
        if cpu is None:
            sys.exit(f"make_universal.py: {path} is no Mach-O file or archive of them")
        cputype = cpu[0]
        if archive:
            align = 3 if cputype & CPU_ARCH_ABI64 else 2
        else:
            align = 14 if (cputype & ~CPU_ARCH_MASK) == CPU_TYPE_ARM else 12
        slices.append((cpu, align, data))
    records = b""
    body = b""
    at = 8 + 20 * len(slices)
    for (cputype, cpusubtype), align, data in slices:
        offset = (at + (1 << align) - 1) & ~((1 << align) - 1)
        body += b"\0" * (offset - at) + data
        records += struct.pack(">IIIII", cputype, cpusubtype, offset, len(data), align)
        at = offset + len(data)
    # The body starts right after the records: its padding leads to the first slice.
    with open(argv[1], "wb") as out:
        out.write(struct.pack(">II", FAT_MAGIC, len(slices)) + records + body)

if __name__ == "__main__":
    main(sys.argv)
