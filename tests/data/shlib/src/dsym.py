#!/usr/bin/env python3
"""Writes, as yaml2obj-19 input, a Mach-O MH_DSYM companion file that carries a linked ELF
x86_64 program's debug information: no compiler here writes DWARF for Fortran COMMON blocks
into Mach-O (flang-new-19 describes none), so the DWARF sections of a gfortran -g program
linked with fixed addresses (-no-pie) are carried over byte for byte, under the __DWARF
segment's names, and its symbols of .text, .data and .bss become the dSYM's symbol table
(with Mach-O's leading '_') in __TEXT,__text, __DATA,__data and __DATA,__bss (zero-fill),
at the same addresses. The result is laid out as dsymutil lays out a dSYM: segments of the
program without file data, then __LINKEDIT with the symbols, then __DWARF.

Usage: dsym.py PROGRAM > dsym.yaml
"""
import struct
import sys

DEBUG = [".debug_info", ".debug_abbrev", ".debug_line", ".debug_str", ".debug_line_str",
         ".debug_aranges"]
MAPPED = {".text": ("__TEXT", "__text", 0x80000400), ".data": ("__DATA", "__data", 0x0),
          ".bss": ("__DATA", "__bss", 0x1)}


def read_elf(path):
    data = open(path, "rb").read()
    assert data[:4] == b"\x7fELF" and data[4] == 2 and data[5] == 1, "an ELF64 little-endian file"
    shoff, = struct.unpack_from("<Q", data, 0x28)
    shentsize, shnum, shstrndx = struct.unpack_from("<HHH", data, 0x3A)
    sections = []
    for i in range(shnum):
        name, kind, flags, addr, offset, size, link, info, align, entsize = struct.unpack_from(
            "<IIQQQQIIQQ", data, shoff + i * shentsize)
        sections.append(dict(name=name, type=kind, addr=addr, offset=offset, size=size,
                             link=link, align=align))
    names = sections[shstrndx]

    def text(table, at):
        start = table["offset"] + at
        return data[start:data.index(b"\0", start)].decode()

    for s in sections:
        s["name"] = text(names, s["name"])
    return data, sections, text


def main():
    data, sections, text = read_elf(sys.argv[1])
    by_name = {s["name"]: s for s in sections}
    symtab = next(s for s in sections if s["type"] == 2)
    strtab = sections[symtab["link"]]
    mapped = [n for n in (".text", ".data", ".bss") if n in by_name]
    number = {by_name[n]["name"]: i + 1 for i, n in enumerate(mapped)}
    symbols = []
    for i in range(1, symtab["size"] // 24):
        name, info, other, shndx, value, size = struct.unpack_from(
            "<IBBHQQ", data, symtab["offset"] + i * 24)
        kind, bind = info & 0xF, info >> 4
        if shndx == 0 or shndx >= len(sections) or kind not in (0, 1, 2):
            continue
        section = sections[shndx]["name"]
        if section not in number or name == 0:
            continue
        external = bind in (1, 2)
        symbols.append((value, "_" + text(strtab, name), 0x0F if external else 0x0E,
                        number[section]))
    symbols.sort()

    out = []
    emit = out.append
    segments = []  # (name, vmaddr, vmsize, fileoff, filesize, sections)
    for segment in ("__TEXT", "__DATA"):
        members = [n for n in mapped if MAPPED[n][0] == segment]
        if not members:
            continue
        low = min(by_name[n]["addr"] for n in members) & ~0xFFF
        high = max(by_name[n]["addr"] + by_name[n]["size"] for n in members)
        records = [(MAPPED[n][1], by_name[n]["addr"], by_name[n]["size"], 0,
                    MAPPED[n][2], by_name[n]["align"]) for n in members]
        segments.append((segment, low, (high - low + 0xFFF) & ~0xFFF, 0, 0, records))

    strings = b"\0\0" + b"".join(s[1].encode() + b"\0" for s in symbols)
    string_offsets, at = [], 2
    for s in symbols:
        string_offsets.append(at)
        at += len(s[1]) + 1
    linkedit_at = 0x1000
    symbols_size = 16 * len(symbols)
    linkedit_size = symbols_size + len(strings)
    dwarf_at = (linkedit_at + linkedit_size + 0xFFF) & ~0xFFF
    top = max(s[1] + s[2] for s in segments)
    linkedit_vm = (top + 0xFFF) & ~0xFFF
    segments.append(("__LINKEDIT", linkedit_vm, (linkedit_size + 0xFFF) & ~0xFFF, linkedit_at,
                     linkedit_size, []))
    records, offset = [], dwarf_at
    contents = {}
    for name in DEBUG:
        if name not in by_name:
            continue
        s = by_name[name]
        macho = "__" + name[1:]
        assert len(macho) <= 16
        records.append((macho, linkedit_vm + 0x1000 + offset - dwarf_at, s["size"], offset, 0, 0))
        contents[macho] = data[s["offset"]:s["offset"] + s["size"]]
        offset += s["size"]
    segments.append(("__DWARF", linkedit_vm + 0x1000, (offset - dwarf_at + 0xFFF) & ~0xFFF,
                     dwarf_at, offset - dwarf_at, records))

    commands = 24 + 24 + sum(72 + 80 * len(s[5]) for s in segments)
    emit("--- !mach-o")
    emit("FileHeader:")
    emit("  magic:           0xFEEDFACF")
    emit("  cputype:         0x1000007")
    emit("  cpusubtype:      0x3")
    emit("  filetype:        0xA")
    emit("  ncmds:           %d" % (2 + len(segments)))
    emit("  sizeofcmds:      %d" % commands)
    emit("  flags:           0x0")
    emit("  reserved:        0x0")
    emit("LoadCommands:")
    emit("  - cmd:             LC_UUID")
    emit("    cmdsize:         24")
    emit("    uuid:            D7E1C0DE-0000-4000-8000-000000000001")
    emit("  - cmd:             LC_SYMTAB")
    emit("    cmdsize:         24")
    emit("    symoff:          %d" % linkedit_at)
    emit("    nsyms:           %d" % len(symbols))
    emit("    stroff:          %d" % (linkedit_at + symbols_size))
    emit("    strsize:         %d" % len(strings))
    for name, vmaddr, vmsize, fileoff, filesize, sects in segments:
        emit("  - cmd:             LC_SEGMENT_64")
        emit("    cmdsize:         %d" % (72 + 80 * len(sects)))
        emit("    segname:         %s" % name)
        emit("    vmaddr:          %d" % vmaddr)
        emit("    vmsize:          %d" % vmsize)
        emit("    fileoff:         %d" % fileoff)
        emit("    filesize:        %d" % filesize)
        emit("    maxprot:         7")
        emit("    initprot:        3")
        emit("    nsects:          %d" % len(sects))
        emit("    flags:           0")
        if not sects:
            continue
        emit("    Sections:")
        for sect, addr, size, offset, flags, align in sects:
            emit("      - sectname:        %s" % sect)
            emit("        segname:         %s" % name)
            emit("        addr:            0x%X" % addr)
            emit("        size:            %d" % size)
            emit("        offset:          0x%X" % offset)
            emit("        align:           %d" % (max(align, 1).bit_length() - 1))
            emit("        reloff:          0x0")
            emit("        nreloc:          0")
            emit("        flags:           0x%X" % flags)
            emit("        reserved1:       0x0")
            emit("        reserved2:       0x0")
            emit("        reserved3:       0x0")
            if sect in contents:
                emit("        content:         %s" % contents[sect].hex().upper())
    emit("LinkEditData:")
    emit("  NameList:")
    for (value, name, kind, sect), strx in zip(symbols, string_offsets):
        emit("    - n_strx:          %d" % strx)
        emit("      n_type:          0x%X" % kind)
        emit("      n_sect:          %d" % sect)
        emit("      n_desc:          0")
        emit("      n_value:         %d" % value)
    emit("  StringTable:")
    emit("    - ''")
    emit("    - ''")
    for s in symbols:
        emit("    - %s" % s[1])
    emit("...")
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
