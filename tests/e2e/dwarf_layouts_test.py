#!/usr/bin/env python3
"""drelk -m against llvm-dwarfdump: for every COMMON block of every object of
tests/data/dwarf and tests/data/macho/dwarf, the layouts in drelk's JSON document
(routine, source file and line, members with offsets, sizes, types and bounds) must be
what llvm-dwarfdump --debug-info shows, turned into the same Fortran-style words here.

ELF64 objects keep a member's offset in the addend of a RELA relocation, which
llvm-dwarfdump does not apply to DW_OP_addr: there the offsets come from
`readelf -rW`, the relocations of .debug_info against the block's symbol in order.

Exit status 77 (skipped) when llvm-dwarfdump or readelf is not installed."""
import argparse
import glob
import json
import os
import re
import shutil
import subprocess
import sys


def find_tool(names):
    for name in names:
        path = shutil.which(name)
        if path:
            return path
    found = sorted(glob.glob("/usr/bin/llvm-dwarfdump-*"))
    return found[-1] if found and "dwarfdump" in names[0] else None


DIE = re.compile(r"^0x([0-9a-f]+):(\s+)(DW_TAG_\w+|NULL)")
ATTR = re.compile(r"^\s+(DW_AT_\w+)\s+\((.*)\)$")


def parse_dies(text):
    """The DIEs of a dump: offset, depth, tag, attributes, parent offset."""
    dies = {}
    order = []
    stack = []
    current = None
    for line in text.splitlines():
        m = DIE.match(line)
        if m:
            offset = int(m.group(1), 16)
            depth = (len(m.group(2)) - 1) // 2
            tag = m.group(3)
            if tag == "NULL":
                current = None
                continue
            del stack[depth:]
            current = {"offset": offset, "tag": tag, "attrs": {}, "children": [],
                       "parent": stack[-1] if stack else None}
            if stack:
                dies[stack[-1]]["children"].append(offset)
            stack.append(offset)
            dies[offset] = current
            order.append(offset)
            continue
        m = ATTR.match(line)
        if m and current is not None:
            current["attrs"][m.group(1)] = m.group(2)
    return dies, order


def number(text):
    return int(text, 0)


def string(text):
    return text[1:-1] if text.startswith('"') else text


def reference(text):
    return int(text.split()[0], 16)


def describe(dies, offset, depth=0):
    """type, dimensions, size of the type DIE at offset, in drelk's words."""
    die = dies[offset]
    attrs = die["attrs"]
    tag = die["tag"]
    size = number(attrs["DW_AT_byte_size"]) if "DW_AT_byte_size" in attrs else 0
    if tag == "DW_TAG_base_type":
        encoding = attrs.get("DW_AT_encoding", "")
        kind = {"DW_ATE_signed": "INTEGER", "DW_ATE_unsigned": "INTEGER",
                "DW_ATE_float": "REAL", "DW_ATE_complex_float": "COMPLEX",
                "DW_ATE_boolean": "LOGICAL", "DW_ATE_unsigned_char": "CHARACTER",
                "DW_ATE_signed_char": "CHARACTER", "DW_ATE_UTF": "CHARACTER"}[encoding]
        return f"{kind}*{size}", "", size
    if tag == "DW_TAG_string_type":
        return f"CHARACTER*{size}", "", size
    if tag == "DW_TAG_structure_type":
        return f"TYPE({string(attrs['DW_AT_name'])})", "", size
    if tag == "DW_TAG_array_type":
        element, element_dims, element_size = describe(dies, reference(attrs["DW_AT_type"]),
                                                       depth + 1)
        bounds = []
        elements = 1
        for child in die["children"]:
            sub = dies[child]["attrs"]
            lower = number(sub["DW_AT_lower_bound"]) if "DW_AT_lower_bound" in sub else 1
            upper = (lower + number(sub["DW_AT_count"]) - 1 if "DW_AT_count" in sub
                     else number(sub["DW_AT_upper_bound"]))
            bounds.append(f"{lower}:{upper}" if lower != 1 else f"{upper}")
            elements *= upper - lower + 1
        return element, "(" + ",".join(bounds) + ")" + element_dims, size or elements * element_size
    raise AssertionError(f"type {tag} at {offset:#x} is not in the test data")


def relocation_addends(readelf, path):
    """For an ELF64 object: the addends of .rela.debug_info, by symbol, in offset order."""
    listing = subprocess.run([readelf, "-rW", path], capture_output=True, text=True,
                             check=True).stdout
    addends = {}
    in_info = False
    for line in listing.splitlines():
        if line.startswith("Relocation section"):
            in_info = "'.rela.debug_info'" in line
            continue
        fields = line.split()
        if not in_info or len(fields) < 7 or fields[2] != "R_X86_64_64":
            continue
        sign = -1 if fields[5] == "-" else 1
        addends.setdefault(fields[4], []).append(sign * int(fields[6], 16))
    return addends


def expected_layouts(dumper, readelf, path, elf64, prefix):
    dump = subprocess.run([dumper, "--debug-info", path], capture_output=True, text=True,
                          check=True).stdout
    dies, order = parse_dies(dump)
    addends = relocation_addends(readelf, path) if elf64 else {}
    used = {}
    layouts = {}
    for offset in order:
        die = dies[offset]
        if die["tag"] != "DW_TAG_common_block":
            continue
        attrs = die["attrs"]
        routine_die = dies[die["parent"]]
        routine = string(routine_die["attrs"]["DW_AT_name"])
        name = string(attrs.get("DW_AT_linkage_name", attrs["DW_AT_name"]))
        symbol = prefix + name
        members = []
        lines = []
        for child in die["children"]:
            var = dies[child]["attrs"]
            if elf64:
                at = used.get(name, 0)
                member_offset = addends[name][at]
                used[name] = at + 1
            else:
                member_offset = int(var["DW_AT_location"].split()[1], 16)
            type_text, dims, size = describe(dies, reference(var["DW_AT_type"]))
            members.append({"offset": member_offset, "size": size, "type": type_text,
                            "name": string(var["DW_AT_name"]), "dimensions": dims})
            lines.append(number(var["DW_AT_decl_line"]))
        members.sort(key=lambda m: m["offset"])
        # A routine and a BLOCK DATA of one file: the same member described twice is one.
        members = [m for i, m in enumerate(members) if m not in members[:i]]
        line = number(attrs["DW_AT_decl_line"])
        # gfortran gives each routine's block the line of the file's first declaration:
        # before the routine's own line, drelk shows its first member's.
        if line < number(routine_die["attrs"]["DW_AT_decl_line"]):
            line = min(lines)
        source = os.path.normpath(string(attrs["DW_AT_decl_file"]))
        layouts.setdefault(symbol, []).append(
            {"routine": routine, "file": source, "line": line, "members": members})
    return layouts


COMPANIONS = {"both.o": "u.o"}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--drelk", required=True)
    parser.add_argument("--source", required=True)
    args = parser.parse_args()
    dumper = find_tool(["llvm-dwarfdump-19", "llvm-dwarfdump"])
    readelf = shutil.which("readelf")
    if not dumper or not readelf:
        print("skipped: llvm-dwarfdump or readelf is not installed")
        return 77
    data = os.path.join(os.path.abspath(args.source), "tests", "data", "dwarf")
    checked = failed = 0
    # Mach-O (tests/data/macho/dwarf) keeps a member's offset in the field, as COFF does.
    for folder, elf64, prefix in (("x86_64", True, ""), ("i386", False, ""),
                                  ("mingw-x86_64", False, ""), ("mingw-i686", False, "_"),
                                  (os.path.join("..", "macho", "dwarf"), False, "_")):
        for path in sorted(glob.glob(os.path.join(data, folder, "*.o*"))):
            if os.path.basename(path) == "nodebug.o":
                continue
            # An object that only initialises its block (a BLOCK DATA beside a routine) makes
            # no block on its own: it is read with an object that declares the block, and
            # only its own layouts are compared.
            companion = COMPANIONS.get(os.path.basename(path))
            inputs = [path] + ([os.path.join(os.path.dirname(path), companion)]
                               if companion else [])
            document = json.loads(subprocess.run(
                [args.drelk, "-m", "-fjson"] + inputs, capture_output=True, text=True,
                cwd=data).stdout)
            shown = {}
            shapes = document.get("shapes", [])
            for block in document["blocks"]:
                for ref in block["references"]:
                    if ref["object"] != 0:
                        continue
                    for layout in ref["layouts"]:
                        # The members of each distinct layout are written once.
                        layout = {"routine": layout["routine"],
                                  "file": os.path.normpath(layout["file"]),
                                  "line": layout["line"],
                                  "members": shapes[layout["shape"]]["members"]}
                        shown.setdefault(block["name"], []).append(layout)
            expected = expected_layouts(dumper, readelf, path, elf64, prefix)
            key = lambda l: (l["routine"], l["line"])
            for symbol in sorted(set(shown) | set(expected)):
                got = sorted(shown.get(symbol, []), key=key)
                want = sorted(expected.get(symbol, []), key=key)
                checked += 1
                if got != want:
                    failed += 1
                    print(f"FAILED {os.path.relpath(path, data)} {symbol}:\n  drelk:        {got}"
                          f"\n  llvm-dwarfdump: {want}")
    print(f"{checked - failed} passed, {failed} failed")
    return 1 if failed or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
