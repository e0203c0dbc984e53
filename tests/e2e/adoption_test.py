#!/usr/bin/env python3
"""Adopting drelk on a code base with a backlog, end to end: a baseline written by
`drelk -fjson`, then a new mismatch (only it is new, and -w fails on it alone), the
mismatch taken away again, and the build folder renamed (no state changes); suppression
files with reasons, stale entries and bad lines; and the files that are no baseline.

Exit status 77 (skipped) without gcc, which assembles the object of the new mismatch."""
import argparse
import json
import os
import shutil
import subprocess
import sys

failures = []


def check(what, ok, detail=""):
    print(f"{'ok  ' if ok else 'FAIL'} {what}" + (f": {detail}" if not ok and detail else ""))
    if not ok:
        failures.append(what)


def drelk(program, cwd, *arguments):
    result = subprocess.run([program, *arguments], cwd=cwd, capture_output=True, text=True,
                            timeout=60)
    return result.returncode, result.stdout, result.stderr


def states(document):
    """Each finding of a JSON report as (kind, block) -> its baseline state."""
    return {(f["kind"], f["block"]): f.get("baseline") for f in document["findings"]}


def build_tree(source, work, name):
    tree = os.path.join(work, name)
    shutil.rmtree(tree, ignore_errors=True)
    os.makedirs(os.path.join(tree, "lib"))
    examples = os.path.join(source, "examples")
    for entry in os.listdir(examples):
        if entry.endswith(".obj"):
            shutil.copy(os.path.join(examples, entry), tree)
    shutil.copy(os.path.join(examples, "lib", "physics.lib"), os.path.join(tree, "lib"))
    return tree


def test_baseline(program, source, work):
    tree = build_tree(source, work, "build1")
    inputs = ["build1/*.obj", "build1/lib/physics.lib"]
    status, _, errors = drelk(program, work, "-fjson", "-obaseline.json", *inputs)
    check("the baseline is written by -fjson -o", status == 0 and errors == "", errors)

    status, out, _ = drelk(program, work, "-w", "-p", "--baseline", "baseline.json", *inputs)
    check("nothing new: -w passes", status == 0, out)
    check("the text says each finding is unchanged", out.count("  baseline: unchanged\n") == 3, out)
    check("the summary counts the states",
          "against the baseline 0 new, 0 updated, 2 unchanged, 0 absent" in out, out)

    # A new object declares _params_ with 32 bytes where every other says 16.
    with open(os.path.join(work, "params.s"), "w", encoding="utf-8") as f:
        f.write(".comm _params_,32,8\n")
    subprocess.run(["gcc", "-c", "params.s", "-o", os.path.join(tree, "params.o")], cwd=work,
                   check=True)
    with_new = inputs + ["build1/params.o"]
    status, out, _ = drelk(program, work, "-w", "-fjson", "--baseline=baseline.json", *with_new)
    document = json.loads(out)
    check("a new mismatch fails -w", status == 1)
    check("only the new mismatch is new",
          states(document) == {("size-mismatch", "_grid_"): "unchanged",
                               ("size-mismatch", "_params_"): "new",
                               ("procedure-clash", "_setup_"): "unchanged"}, states(document))
    status, out, _ = drelk(program, work, "-w", "-p", "--baseline", "baseline.json", *with_new)
    check("the text marks it new", "_params_ is declared with different sizes\n" in out and
          out.count("  baseline: new\n") == 1, out)

    os.remove(os.path.join(tree, "params.o"))
    status, _, _ = drelk(program, work, "-w", "--baseline", "baseline.json", *inputs)
    check("with the object gone -w passes again", status == 0)

    # The same tree built elsewhere: no finding changes its state.
    os.rename(tree, os.path.join(work, "elsewhere"))
    status, out, _ = drelk(program, work, "-w", "-fjson", "--baseline", "baseline.json",
                           "elsewhere/*.obj", "elsewhere/lib/physics.lib")
    check("a renamed build folder changes no state",
          status == 0 and set(states(json.loads(out)).values()) == {"unchanged"}, out[-400:])

    # One object fewer: a finding of the baseline is gone, and a changed one is updated.
    status, out, _ = drelk(program, work, "-w", "-fjson", "--baseline", "baseline.json",
                           "elsewhere/main.obj", "elsewhere/solver.obj")
    document = json.loads(out)
    check("a finding that changed is updated and fails -w",
          status == 1 and states(document) == {("size-mismatch", "_grid_"): "updated"},
          states(document))
    check("the finding gone is absent",
          [(f["kind"], f["block"]) for f in document["baseline"]["absent_findings"]]
          == [("procedure-clash", "_setup_")], document.get("baseline"))


def test_not_a_baseline(program, source, work):
    examples = os.path.join(source, "examples")
    with open(os.path.join(work, "report.sarif"), "w", encoding="utf-8") as f:
        f.write(drelk(program, examples, "-fsarif", "main.obj")[1])
    with open(os.path.join(work, "damaged.json"), "w", encoding="utf-8") as f:
        f.write('{"schema": "drelk-report", "version": 2, "findings": [')
    cases = [
        ("missing.json", "the file cannot be read"),
        ("report.sarif", "the file is not a drelk JSON report"),
        ("damaged.json", "the file is not a JSON document (line 1, column 55: the document "
                         "ends where a value was expected)"),
    ]
    for name, why in cases:
        status, out, errors = drelk(program, examples, "--baseline",
                                    os.path.join(work, name), "main.obj")
        expected = f'Drelk: Error reading baseline "{os.path.join(work, name)}": {why}\n\n'
        check(f"a baseline that is {name}: exit 255, said, nothing read",
              status == 255 and errors == expected and out == "", errors)
    status, _, errors = drelk(program, examples, "main.obj", "--baseline")
    check("--baseline without a file is refused",
          status == 255 and "Option --baseline requires an argument" in errors, errors)
    status, _, errors = drelk(program, examples, "--baseline=", "main.obj")
    check("--baseline with an empty name is refused",
          status == 255 and "Illegal program option: --baseline=" in errors, errors)


def test_suppressions(program, source, work):
    examples = os.path.join(source, "examples")
    inputs = ["*.obj", "lib/physics.lib"]
    suppressions = os.path.join(work, "suppressions.txt")
    with open(suppressions, "w", encoding="utf-8") as f:
        f.write("# Known findings of the examples\n\n"
                "_grid_ extent   # the old solver declares the short grid\n"
                "_set*_          # renamed in the next release\n")
    status, out, errors = drelk(program, examples, "-w", "-p", "--suppressions", suppressions,
                                *inputs)
    check("suppressed findings leave the exit status alone", status == 0, out + errors)
    check("and are not listed, but counted",
          "Drelk Error" not in out and "; 2 suppressed\n" in out, out)
    status, out, _ = drelk(program, examples, "-p", "--show-suppressed",
                           "--suppressions", suppressions, *inputs)
    check("--show-suppressed lists them with their reasons",
          f"  suppressed: the old solver declares the short grid ({suppressions}, line 3)\n"
          in out and out.count("  suppressed: renamed in the next release") == 2, out)
    status, out, _ = drelk(program, examples, "-fsarif", "--suppressions", suppressions, *inputs)
    results = json.loads(out)["runs"][0]["results"]
    check("SARIF carries external suppressions with the reason",
          [r["suppressions"][0]["kind"] for r in results] == ["external", "external"] and
          results[0]["suppressions"][0]["justification"] == "the old solver declares the short grid")

    with open(suppressions, "a", encoding="utf-8") as f:
        f.write("_nothing_ # a block long gone\n")
    status, _, errors = drelk(program, examples, "-w", "--suppressions", suppressions, *inputs)
    check("a stale entry is quiet without the switch", status == 0 and errors == "", errors)
    status, out, errors = drelk(program, examples, "-w", "--stale-suppressions",
                                "--suppressions", suppressions, *inputs)
    check("--stale-suppressions reports it",
          status == 255 and errors == f'Drelk: Suppression "_nothing_" in "{suppressions}", '
                                      "line 5, accepts no finding\n\n", errors)

    bad = os.path.join(work, "bad.txt")
    for text, line, why in (("_grid_ extent\n", 1, "no reason after '#'"),
                            ("# ok\n_grid_ sizes # what kind?\n", 2,
                             '"sizes" is not a kind of finding')):
        with open(bad, "w", encoding="utf-8") as f:
            f.write(text)
        status, out, errors = drelk(program, examples, "--suppressions", bad, *inputs)
        check(f"a bad line ({why}): exit 255, the file and line, nothing read",
              status == 255 and out == "" and
              errors == f'Drelk: Error in suppressions file "{bad}", line {line}: {why}\n\n',
              errors)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--drelk", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    if shutil.which("gcc") is None:
        print("adoption_test: gcc is missing")
        return 77
    program = os.path.abspath(args.drelk)
    source = os.path.abspath(args.source)
    work = os.path.abspath(args.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    test_baseline(program, source, work)
    test_not_a_baseline(program, source, work)
    test_suppressions(program, source, work)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
