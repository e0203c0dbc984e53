#!/usr/bin/env python3
"""Generates a tree of Fortran sources with COMMON blocks of varied layouts and compiles
them with gfortran -g, for the benchmark of drelk -m.

  bench/fortran_tree.py --objects 2000 --out build/bench/corpus/fortran2k

Each object holds one to three routines, each declaring two to six blocks of a pool of
80, whose members mix INTEGER, INTEGER*2, REAL, REAL*8, LOGICAL, COMPLEX*16, CHARACTER
and arrays of one and two dimensions. About one declaration in fifty takes one of a few
variants of its block: an array of another extent (another size), two INTEGERs where a
REAL*8 was (the same size, other types), or a member more at the end. The sources are
the same for the same arguments; the objects are compiled two at a time, at low priority,
and kept while the arguments and this script stay the same."""
import argparse
import hashlib
import os
import random
import subprocess
import sys

SCALARS = ["INTEGER", "INTEGER*2", "REAL", "REAL*8", "LOGICAL", "COMPLEX*16",
           "CHARACTER*8", "CHARACTER*16"]


def block_layout(rng, index):
    members = []
    for m in range(rng.randint(2, 12)):
        kind = rng.choice(SCALARS)
        name = f"V{index:02d}{m:02d}"
        shape = rng.random()
        if shape < 0.3:
            dims = f"({rng.randint(10, 2000)})"
        elif shape < 0.4:
            dims = f"({rng.randint(2, 40)},{rng.randint(2, 40)})"
        else:
            dims = ""
        members.append((kind, name, dims))
    return members


def variant(members, which, rng):
    members = list(members)
    arrays = [i for i, m in enumerate(members) if m[2].count(",") == 0 and m[2]]
    reals = [i for i, m in enumerate(members) if m[0] == "REAL*8" and not m[2]]
    if which == 0 and arrays:  # an array of another extent
        i = arrays[0]
        extent = int(members[i][2][1:-1])
        members[i] = (members[i][0], members[i][1], f"({max(1, extent - rng.randint(1, 9))})")
    elif which == 1 and reals:  # two INTEGERs where a REAL*8 was
        i = reals[0]
        members[i:i + 1] = [("INTEGER", members[i][1] + "A", ""),
                            ("INTEGER", members[i][1] + "B", "")]
    else:  # a member more at the end
        members.append(("REAL*8", "EXTRA", "(4)"))
    return members


def declare(lines, block, members):
    for kind, name, dims in members:
        lines.append(f"      {kind} {name}{dims}")
    names = [name for _, name, _ in members]
    statement = f"      COMMON /{block}/ " + ", ".join(names)
    while len(statement) > 72:  # fixed form: continuation lines
        cut = statement.rfind(",", 0, 72) + 1
        lines.append(statement[:cut])
        statement = "     &" + statement[cut:]
    lines.append(statement)


def generate(objects, out):
    rng = random.Random(2026)
    pool = [block_layout(rng, i) for i in range(80)]
    names = [f"BLK{i:02d}" for i in range(80)]
    source_dir = os.path.join(out, "src")
    os.makedirs(source_dir, exist_ok=True)
    sources = []
    for o in range(objects):
        lines = []
        for r in range(rng.randint(1, 3)):
            lines.append(f"      SUBROUTINE S{o:05d}{r}")
            first = None
            for b in sorted(rng.sample(range(80), rng.randint(2, 6))):
                members = pool[b]
                if rng.random() < 0.02:
                    members = variant(members, rng.randint(0, 2), random.Random(b))
                declare(lines, names[b], members)
                first = first or members[0]
            lines.append(f"      {first[1]}{'(1' + ',1' * first[2].count(',') + ')' if first[2] else ''} = {first[1]}{'(1' + ',1' * first[2].count(',') + ')' if first[2] else ''}")
            lines.append("      END")
        path = os.path.join(source_dir, f"u{o:05d}.f")
        with open(path, "w") as f:
            f.write("\n".join(lines) + "\n")
        sources.append(path)
    return sources


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objects", type=int, default=2000)
    parser.add_argument("--out", required=True)
    parser.add_argument("--fc", default="gfortran")
    args = parser.parse_args()
    with open(__file__, "rb") as f:
        stamp_text = hashlib.sha256(f.read()).hexdigest() + f" {args.objects} {args.fc}\n"
    stamp = os.path.join(args.out, "stamp")
    if os.path.exists(stamp) and open(stamp).read() == stamp_text:
        return 0
    subprocess.run(["rm", "-rf", args.out], check=True)
    os.makedirs(args.out)
    print(f"   fortran tree: {args.objects} objects of {args.fc} -g in {args.out}", flush=True)
    sources = generate(args.objects, args.out)
    # Two compilers at a time, at low priority: the machine is shared.
    xargs = subprocess.run(
        ["xargs", "-0", "-P", "2", "-n", "50", "nice", args.fc, "-c", "-g", "-O0", "-w",
         "-fno-ident"],
        input="\0".join(os.path.relpath(s, args.out) for s in sources).encode(),
        cwd=args.out)
    if xargs.returncode != 0:
        print("fortran tree: compilation failed", file=sys.stderr)
        return 1
    with open(stamp, "w") as f:
        f.write(stamp_text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
