#!/usr/bin/env python3
"""Turns the x86-64 assembly that gfortran -g -S writes for ELF into assembly for a
Mach-O object, as gfortran on macOS would lay it out: the debug sections in the __DWARF
segment, section offsets (.debug_str, .debug_line_str, .debug_abbrev, .debug_line) as
differences from the start of their section (Mach-O applies no relocation to them),
symbols with the leading '_' of the Mach-O symbol table, and .comm alignments as powers
of two. A member's DW_OP_addr keeps the block's symbol and the member's offset as its
addend, which the assembler stores in the field.

Usage: gfortran_to_macho.py IN.s OUT.s"""
import re
import sys

DEBUG_SECTIONS = {
    ".debug_info": "__debug_info",
    ".debug_abbrev": "__debug_abbrev",
    ".debug_aranges": "__debug_aranges",
    ".debug_line": "__debug_line",
    ".debug_str": "__debug_str",
    ".debug_line_str": "__debug_line_str",
}


def main():
    source, target = sys.argv[1], sys.argv[2]
    lines = open(source, encoding="utf-8").read().splitlines()

    # Which debug section each label stands in, and the symbols the unit names.
    section = ".text"
    label_section = {}
    symbols = set()
    for line in lines:
        m = re.match(r"\s*\.section\s+([.\w]+)", line)
        if m:
            section = m.group(1)
        elif re.match(r"\s*\.text\b", line):
            section = ".text"
        m = re.match(r"^([.\w$]+):", line)
        if m:
            label_section[m.group(1)] = section
        m = re.match(r"\s*\.(?:globl|comm|local)\s+([\w$]+)", line)
        if m:
            symbols.add(m.group(1))

    def symbol(name):
        return "_" + name if name in symbols else name

    out = []
    for line in lines:
        if re.match(r"\s*\.file\s+0\s", line):
            continue  # the assembler's Mach-O line table takes no file 0
        # Local labels: ".L" for ELF, "L" for Mach-O, so that differences between them
        # are folded by the assembler and no symbols are made of them.
        if '"' not in line:
            line = re.sub(r"(?<![\w$])\.L(?=[\w$])", "L", line)
        m = re.match(r"\s*\.section\s+([.\w]+)", line)
        if m:
            name = m.group(1)
            if name in DEBUG_SECTIONS:
                out.append(f"\t.section\t__DWARF,{DEBUG_SECTIONS[name]},regular,debug")
                out.append(f"Lsection{name.replace('.', '_')}:")
            continue  # .note.GNU-stack and the like have no Mach-O counterpart
        if re.match(r"\s*\.(type|size|ident)\b", line):
            continue
        m = re.match(r"(\s*)\.comm\s+([\w$]+),\s*(\d+),\s*(\d+)", line)
        if m:
            alignment = int(m.group(4)).bit_length() - 1
            out.append(f"{m.group(1)}.comm\t{symbol(m.group(2))},{m.group(3)},{alignment}")
            continue
        m = re.match(r"(\s*)\.long\s+(L[\w$]+)\s*$", line)
        if m and label_section.get("." + m.group(2), ".text") in DEBUG_SECTIONS:
            start = "Lsection" + label_section["." + m.group(2)].replace(".", "_")
            out.append(f"{m.group(1)}.long\t{m.group(2)}-{start}")
            continue
        line = re.sub(r"\.value\b", ".short", line)
        line = re.sub(r"\.string\b", ".asciz", line)
        # Symbol operands (not inside quoted strings).
        if '"' not in line:
            line = re.sub(r"(?<![\w.$])([A-Za-z_][\w$]*)",
                          lambda t: symbol(t.group(1)), line)
        else:
            m = re.match(r"^([\w$]+):(.*)$", line)
            if m:
                line = symbol(m.group(1)) + ":" + m.group(2)
        out.append(line)
    open(target, "w", encoding="utf-8").write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
