#!/usr/bin/env python3
"""The documents for programs on real inputs: drelk runs over the sample objects, the test
archives, the fuzz seeds (damaged inputs, so diagnostics) and a generated corpus whose
block names hold a quote, a backslash, a control byte and a byte that is not UTF-8, once
in each format. Every JSON document must validate against docs/drelk-report.schema.json,
and the text report, the JSON document and the SARIF log of the same run must report the
same blocks, declarations, findings, diagnostics and exit status.

    documents_test.py --drelk BIN --corpus BIN --source DIR --work DIR [--keep DIR]
                      [--objects N]

--keep copies every SARIF log and JSON document to DIR, for the SARIF validator of CI.
Exits 77 (skipped) when the jsonschema module is missing.
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys

try:
    import jsonschema
except ImportError:
    print("python3-jsonschema is not installed: skipped")
    sys.exit(77)

RULE_CLASSES = {"DRK1001": "extent", "DRK1002": "procedure-clash", "DRK1003": "type-conflict",
                "DRK1004": "initialised-smaller", "DRK1005": "blank-common",
                "DRK1006": "library-smaller", "DRK1007": "library-unsized",
                "DRK1008": "possible-procedure-clash", "DRK1009": "alignment-smaller"}
CLASS_LINE = re.compile(rb"^  ([a-z-]+) \((error|warning|note)\): (.+)$")
SUMMARY_LINE = re.compile(rb"^Summary: ([\d,]+) blocks? in ([\d,]+) objects?; ([\d,]+) errors?, "
                          rb"([\d,]+) warnings?, ([\d,]+) notes?$")
REFERENCE_LINE = re.compile(rb"^ *(\d+|-)   ([I ])              (.*)$")
ERROR_PREFIX = b"Drelk Error: Common Block "
NOTE_PREFIX = b"Drelk Note: Common Block "
LIBRARY_MARK = b" is defined by library "
ALIGNMENT_NOTE = re.compile(rb"^(.*) is defined with alignment (\d+) in (.*?)"
                            rb"(?: and ([\d,]+) more definitions?)?, smaller than the alignment "
                            rb"(\d+) declared in (.*)$")
SIZE_ERROR_SUFFIX = b" is declared with different sizes"
CLASH_MARK = b" conflicts with procedure "
POSSIBLE_CLASH = re.compile(rb"^(.*) may conflict with procedure (.*), which no input defines, "
                            rb"called in (.*?)(?: and ([\d,]+) more objects?)?$")
HEADINGS = (b"Common Block Analysis", b"Common   Block   Initialized   Object File",
            b"         Size ")
INCOMPLETE = b"Drelk: Processing is incomplete due to previous error(s).\n\n"

failures = []
failed_cases = set()
current_case = [""]


def check(condition, what):
    if not condition:
        failures.append(what)
        failed_cases.add(current_case[0])
    return condition


def run(drelk, cwd, arguments):
    result = subprocess.run([drelk] + arguments, cwd=cwd, capture_output=True)
    return result.returncode, result.stdout, result.stderr


def raw(item, key):
    """The bytes behind a string member: its '<key>_bytes' sibling where there is one."""
    if key + "_bytes" in item:
        return bytes.fromhex(item[key + "_bytes"])
    return item[key].encode("utf-8")


def parse_text(report):
    """The full text report as (blocks, findings, summary): blocks as [(name, [(size, 'I' or
    ' ', path)])], findings as [(kind, block, details, class, severity)], the summary's
    counts."""
    if report.startswith(INCOMPLETE):
        report = report[len(INCOMPLETE):]
    blocks, findings, summary = [], [], None
    for line in report.split(b"\n"):
        if line in HEADINGS:
            continue
        summary_match = SUMMARY_LINE.match(line)
        if summary_match:
            summary = [int(n.replace(b",", b"")) for n in summary_match.groups()]
            continue
        class_match = CLASS_LINE.match(line)
        if class_match:
            check(findings and findings[-1][3] in (None, class_match.group(1).decode()),
                  "a class line under each error line: %r" % line)
            findings[-1][3] = class_match.group(1).decode()
            findings[-1][4] = class_match.group(2).decode()
            continue
        match = REFERENCE_LINE.match(line)
        if line.startswith(b" ") and not match:
            blocks.append((line[1:], []))
        elif match:
            size = None if match.group(1) == b"-" else int(match.group(1))
            # A library's versioned export is shown after its path.
            path = re.sub(rb" \(exports [^ ]+\)$", b"", match.group(3))
            blocks[-1][1].append((size, match.group(2), path))
        elif line.startswith(NOTE_PREFIX) and ALIGNMENT_NOTE.match(line[len(NOTE_PREFIX):]):
            match = ALIGNMENT_NOTE.match(line[len(NOTE_PREFIX):])
            check(blocks and blocks[-1][0] == match.group(1), "alignment note after its block")
            more = int(match.group(4).replace(b",", b"")) if match.group(4) else 0
            findings.append(["alignment-smaller", match.group(1),
                             [match.group(3), int(match.group(2)), 1 + more,
                              int(match.group(5)), match.group(6)], None, None])
        elif line.startswith(NOTE_PREFIX):
            name = blocks[-1][0]
            check(line[len(NOTE_PREFIX):].startswith(name + LIBRARY_MARK), "note line %r" % line)
            findings.append(["library-definition", name,
                             [path for size, _, path in blocks[-1][1] if size is None], None,
                             None])
        elif line.startswith(ERROR_PREFIX):
            rest = line[len(ERROR_PREFIX):]
            if rest.endswith(SIZE_ERROR_SUFFIX):
                name = rest[: -len(SIZE_ERROR_SUFFIX)]
                check(blocks and blocks[-1][0] == name, "size error after its block: %r" % line)
                findings.append(["size-mismatch", name,
                                 [(size, path) for size, _, path in blocks[-1][1]], None, None])
            elif POSSIBLE_CLASH.match(rest):
                match = POSSIBLE_CLASH.match(rest)
                name = match.group(1)
                check(blocks and blocks[-1][0] == name and match.group(2) == name,
                      "possible clash after its block: %r" % line)
                more = int(match.group(4).replace(b",", b"")) if match.group(4) else 0
                findings.append(["possible-procedure-clash", name, [match.group(3), 1 + more],
                                 None, None])
            else:
                name = blocks[-1][0]
                check(rest.startswith(name + CLASH_MARK + name + b" in "), "clash line %r" % line)
                path = rest[len(name + CLASH_MARK + name + b" in "):]
                if findings and findings[-1][:2] == ["procedure-clash", name]:
                    findings[-1][2].append(path)
                else:
                    findings.append(["procedure-clash", name, [path], None, None])
    return blocks, findings, summary


def json_view(document):
    objects = [raw(item, "path") for item in document["objects"]]
    blocks = [(raw(block, "name"),
               [(ref["size"] if ref.get("sized", True) else None,
                 b"I" if ref["initialized"] else b" ", objects[ref["object"]])
                for ref in block["references"]])
              for block in document["blocks"]]
    findings = []
    for finding in document["findings"]:
        if finding["kind"] == "size-mismatch":
            # A library that records no size is listed without one.
            unsized = {i for i, item in enumerate(document["objects"])
                       if item.get("role") == "library" and item["format"] != "elf"}
            details = [(None if item["object"] in unsized else item["size"], raw(item, "path"))
                       for item in finding["declarations"]]
            for item in finding["declarations"]:
                check(raw(item, "path") == objects[item["object"]], "finding path and index")
        elif finding["kind"] == "library-definition":
            details = [raw(item, "path") for item in finding["libraries"]]
        elif finding["kind"] == "alignment-smaller":
            definitions, declaration = finding["definitions"], finding["declaration"]
            for item in definitions + [declaration]:
                check(raw(item, "path") == objects[item["object"]], "alignment path and index")
            check(all(item["alignment"] < declaration["alignment"] for item in definitions),
                  "each definition less aligned than the declaration asks")
            details = [raw(definitions[0], "path"), definitions[0]["alignment"], len(definitions),
                       declaration["alignment"], raw(declaration, "path")]
        elif finding["kind"] == "possible-procedure-clash":
            check(raw(finding, "procedure") == raw(finding, "block"), "call names the block")
            for item in finding["callers"]:
                check(raw(item, "path") == objects[item["object"]], "caller path and index")
            details = [raw(finding["callers"][0], "path"), len(finding["callers"])]
        else:
            check(raw(finding, "procedure") == raw(finding, "block"), "clash names the block")
            details = [raw(item, "path") for item in finding["definers"]]
            for item in finding["definers"]:
                check(raw(item, "path") == objects[item["object"]], "definer path and index")
        findings.append([finding["kind"], raw(finding, "block"), details, finding["class"],
                         finding["severity"]])
    return blocks, findings


def check_sarif(name, sarif, document, status):
    """The SARIF log against the JSON document of the same run."""
    run_ = sarif["runs"][0]
    rules = [rule["id"] for rule in run_["tool"]["driver"]["rules"]]
    artifacts = run_["artifacts"]
    # One artifact a file or member (import libraries have many members of one name),
    # however often named.
    shown = [artifact["description"]["text"] for artifact in artifacts]
    members = {item["path"] for item in document["objects"]
               if "member" in item or "architecture" in item}
    check(len(shown) <= len(document["objects"])
          and set(shown) == {o["path"] for o in document["objects"]},
          name + ": an artifact for every object")
    for artifact in artifacts:
        check(("parentIndex" in artifact) == (artifact["description"]["text"] in members),
              name + ": members and slices are nested in their files")

    def located(locations):
        """The location messages; each names its object, whose artifact it must point at
        (an archive's, for a member without a name)."""
        messages = []
        for location in locations:
            text = location["message"]["text"]
            artifact = shown[location["physicalLocation"]["artifactLocation"]["index"]]
            check(text.startswith(artifact + " "), name + ": %r located at %r" % (text, artifact))
            messages.append(text)
        return sorted(messages)

    invocation = run_["invocations"][0]
    check(invocation["exitCode"] == status, name + ": exitCode %s, status %s"
          % (invocation["exitCode"], status))
    check(invocation["executionSuccessful"] == document["complete"], name + ": executionSuccessful")
    notes = invocation["toolExecutionNotifications"]
    check([n["message"]["text"] for n in notes]
          == [d["text"].rstrip("\n") for d in document["diagnostics"]], name + ": notifications")

    results = run_["results"]
    check(len(results) == len(document["findings"]), name + ": one result a finding")
    fingerprints = set()
    for result, finding in zip(results, document["findings"]):
        kind = finding["kind"]
        check(RULE_CLASSES.get(result["ruleId"]) == finding["class"],
              name + ": rule %s for %s" % (result["ruleId"], finding["class"]))
        check(result["level"] == finding["severity"], name + ": level is the severity")
        check(rules[result["ruleIndex"]] == result["ruleId"], name + ": ruleIndex")
        check(("Common Block " + finding["block"] + " ") in result["message"]["text"],
              name + ": message names the block: " + result["message"]["text"])
        fingerprints.add(result["partialFingerprints"]["commonBlockFinding/v1"])
        locations = located(result["locations"])
        related = located(result.get("relatedLocations", []))
        if kind == "size-mismatch":
            # A library whose format records no size declares no bytes: it is said to
            # define the block, and has no size of its own among the locations.
            declared = sorted("%s defines the COMMON block; its format records no size."
                              % item["path"] if item.get("sized", True) is False
                              else "%s declares %d bytes." % (item["path"], item["size"])
                              for item in finding["declarations"])
            check(sorted(locations + related) == declared, name + ": locations are the declarations")
            sizes = {item["size"] for item in finding["declarations"]
                     if item.get("sized", True) is not False}
            check(len(locations) == len(sizes), name + ": one location a size")
        elif kind == "library-definition":
            defined = sorted("%s defines the COMMON block." % item["path"]
                             for item in finding["libraries"])
            check(locations == defined, name + ": locations are the libraries")
        elif kind == "alignment-smaller":
            defined = sorted("%s defines the COMMON block with alignment %d."
                             % (item["path"], item["alignment"]) for item in finding["definitions"])
            check(locations == defined, name + ": locations are the definitions")
            declaration = finding["declaration"]
            check(related == ["%s declares the COMMON block with alignment %d."
                              % (declaration["path"], declaration["alignment"])],
                  name + ": the related location is the declaration")
        elif kind == "possible-procedure-clash":
            callers = sorted("%s calls procedure %s." % (item["path"], finding["procedure"])
                             for item in finding["callers"])
            check(locations == callers, name + ": locations are the callers")
        else:
            definers = sorted("%s defines procedure %s." % (item["path"], finding["procedure"])
                              for item in finding["definers"])
            check(locations == definers, name + ": locations are the definers")
    check(len(fingerprints) == len(results), name + ": fingerprints are unique")


def check_case(name, cwd, patterns, drelk, validator, keep):
    text_status, text, text_errors = run(drelk, cwd, patterns)
    _, problems, _ = run(drelk, cwd, ["-p"] + patterns)
    json_status, json_out, json_errors = run(drelk, cwd, ["-fjson"] + patterns)
    _, json_problems_out, _ = run(drelk, cwd, ["-fjson", "-p"] + patterns)
    sarif_status, sarif_out, sarif_errors = run(drelk, cwd, ["-fsarif"] + patterns)
    check(text_status == json_status == sarif_status, name + ": the same exit status")
    check(text_errors == json_errors == sarif_errors, name + ": the same diagnostics")
    if keep:
        with open(os.path.join(keep, name + ".sarif"), "wb") as file:
            file.write(sarif_out)
        with open(os.path.join(keep, name + ".json"), "wb") as file:
            file.write(json_out)

    document = json.loads(json_out.decode("utf-8"))
    problems_document = json.loads(json_problems_out.decode("utf-8"))
    sarif = json.loads(sarif_out.decode("utf-8"))
    for what, instance in (("json", document), ("json -p", problems_document)):
        errors = sorted(validator.iter_errors(instance), key=lambda e: list(e.path))
        check(not errors, "%s %s: %s" % (name, what, "; ".join(e.message for e in errors[:3])))

    # The diagnostics: the records are what the error stream shows, without the line feeds
    # that end each message there.
    texts = [raw(d, "text") for d in document["diagnostics"]]
    check(not any(t.endswith(b"\n") for t in texts), name + ": diagnostics without line ends")
    shown = b"".join(b"Drelk: " + t + b"\n" for t in texts)
    check(re.sub(b"\n+", b"\n", shown) == re.sub(b"\n+", b"\n", json_errors),
          name + ": diagnostics records match the error stream")
    check(document["complete"] == (json_errors == b""), name + ": complete")

    text_blocks, text_findings, text_summary = parse_text(text)
    json_blocks, json_findings = json_view(document)
    if text:
        check(text_blocks == json_blocks, name + ": text and JSON list the same blocks")
        check(text_findings == json_findings, name + ": text and JSON find the same")
        summary = document["summary"]
        check(text_summary is None and not text_blocks
              or text_summary == [summary[k] for k in ("blocks", "objects", "errors", "warnings",
                                                         "notes")], name + ": the summary")
        severities = [f[4] for f in json_findings]
        check([severities.count(k) for k in ("error", "warning", "note")]
              == [summary["errors"], summary["warnings"], summary["notes"]],
              name + ": the summary counts the findings")
        verdict = b"COMMON Block errors encountered" in text
        check((document["verdict"] == "common-block-errors") == verdict, name + ": verdict")
    else:
        check(not document["blocks"] and text_status != 0, name + ": no report, nothing read")

    # -p: the blocks with findings only, and the same error lines as the text.
    with_findings = {finding[1] for finding in json_findings}
    problem_blocks, _ = json_view(problems_document)
    check(problem_blocks == [b for b in json_blocks if b[0] in with_findings], name + ": -p blocks")
    problem_lines = [line for line in problems.split(b"\n") if line.startswith(ERROR_PREFIX)]
    check(len(problem_lines) == sum(1 if kind in ("size-mismatch", "possible-procedure-clash") else
                                    0 if kind in ("library-definition", "alignment-smaller")
                                    else len(details)
                                    for kind, _, details, *_ in json_findings), name + ": -p lines")

    check_sarif(name, sarif, document, sarif_status)
    return document


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--drelk", required=True)
    parser.add_argument("--corpus", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--keep")
    parser.add_argument("--objects", type=int, default=10000)
    options = parser.parse_args()
    drelk = os.path.abspath(options.drelk)
    source = os.path.abspath(options.source)
    work = os.path.abspath(options.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    if options.keep:
        os.makedirs(options.keep, exist_ok=True)

    with open(os.path.join(source, "docs", "drelk-report.schema.json"), encoding="utf-8") as file:
        schema = json.load(file)
    jsonschema.Draft7Validator.check_schema(schema)
    validator = jsonschema.Draft7Validator(schema)

    corpus_options = ["--odd-names", "0.02", "--clashes", "6", "--initialized", "0.05",
                      "--seed", "17"]
    generated = subprocess.run([options.corpus, "--objects", str(options.objects), "--out",
                                os.path.join(work, "tree")] + corpus_options)
    generated_library = subprocess.run([options.corpus, "--objects", "2000", "--library",
                                        os.path.join(work, "corpus.lib")] + corpus_options)
    if generated.returncode != 0 or generated_library.returncode != 0:
        print("drelk_corpus failed")
        return 1

    cases = [
        ("examples", os.path.join(source, "examples"), ["*.obj", "lib/physics.lib"]),
        ("archives", os.path.join(source, "tests", "data", "archives"), ["*.lib", "*.a"]),
        ("macho", os.path.join(source, "tests", "data", "macho"), ["-s", "*.o", "*.a"]),
        ("libraries", os.path.join(source, "tests", "data", "shlib"),
         ["user.o", "userw.obj", "macuser.o", "macuser2.o", "libblk.so", "libver.so",
          "libmac.dylib",
          "shared.dll", "libshared.dll.a", "shared.lib"]),
        ("calls", os.path.join(source, "tests", "data", "calls"), ["-s", "*.o", "*.obj"]),
        ("alignment", os.path.join(source, "tests", "data", "alignment"),
         ["-s", "*.o", "*.obj"]),
        ("damaged", os.path.join(source, "fuzz", "corpus", "analyze"), ["*.bin", "missing"]),
        ("corpus", os.path.join(work, "tree"), ["-s", "*.obj"]),
        ("corpus-library", work, ["corpus.lib"]),
        ("nothing-read", work, ["missing"]),
    ]
    documents = {}
    for name, cwd, patterns in cases:
        current_case[0] = name
        documents[name] = check_case(name, cwd, patterns, drelk, validator, options.keep)

    # The inputs show what they must for the comparison to mean something.
    current_case[0] = "coverage"
    odd = [b for b in documents["corpus"]["blocks"] if "name_bytes" in b]
    check(odd and all('"' in b["name"] and "\\" in b["name"] and "\x01" in b["name"]
                      and "\ufffd" in b["name"] for b in odd), "the corpus has odd block names")
    check(sorted(f["kind"] for f in documents["calls"]["findings"]
                 if f["kind"].endswith("procedure-clash"))
          == ["possible-procedure-clash", "procedure-clash"], "the calls case has both clashes")
    check(any(f["kind"] == "alignment-smaller" for f in documents["alignment"]["findings"]),
          "the alignment case has a definition less aligned than declared")
    check(any(f["kind"] == "procedure-clash" for f in documents["corpus"]["findings"])
          and any(f["kind"] == "size-mismatch" for f in documents["examples"]["findings"]),
          "findings of both kinds")
    check(any(d["offset"] is not None for d in documents["damaged"]["diagnostics"]),
          "a diagnostic with an offset")
    check(any(o.get("member", "") is None for o in documents["damaged"]["objects"]),
          "a member whose name the archive does not give")
    check(any("architecture" in o and "member" not in o for o in documents["macho"]["objects"])
          and any("architecture" in o and "member" in o for o in documents["macho"]["objects"]),
          "slices of a universal file and of a universal archive")

    # -m: the documents of objects built with -g carry layouts; SARIF results stand at the
    # declaring source lines, the objects being related locations.
    current_case[0] = "layouts"
    dwarf = os.path.join(source, "tests", "data", "dwarf", "x86_64")
    _, layout_json, _ = run(drelk, dwarf, ["-m", "-fjson", "*.o"])
    _, layout_sarif, _ = run(drelk, dwarf, ["-m", "-fsarif", "*.o"])
    if options.keep:
        with open(os.path.join(options.keep, "layouts.sarif"), "wb") as file:
            file.write(layout_sarif)
    layout_document = json.loads(layout_json.decode("utf-8"))
    errors = sorted(validator.iter_errors(layout_document), key=lambda e: list(e.path))
    check(not errors, "layouts json: " + "; ".join(e.message for e in errors[:3]))
    kinds = [f["kind"] for f in layout_document["findings"]]
    check("layout-mismatch" in kinds and "size-mismatch" in kinds, "layouts: both mismatches")
    results = json.loads(layout_sarif.decode("utf-8"))["runs"][0]["results"]
    classes = [f["class"] for f in layout_document["findings"]]
    check([RULE_CLASSES[r["ruleId"]] for r in results] == classes, "layouts: one result a finding")
    check({"type-conflict", "extent", "blank-common"} <= set(classes),
          "layouts: findings of every class -m tells")
    check(all(f["parting_offset"] is not None for f in layout_document["findings"]
              if "parting_offset" in f), "layouts: every layout finding says where they part")
    for result in results:
        if RULE_CLASSES[result["ruleId"]] == "procedure-clash":
            continue  # located at the objects that define the procedure
        first = result["locations"][0]["physicalLocation"]
        check(first["artifactLocation"]["uri"].startswith("src/")
              and first["region"]["startLine"] > 0, "layouts: located at a source line")
        check(len(result["relatedLocations"]) > 0, "layouts: the objects are related locations")

    # A baseline and suppressions: the documents carry each finding's state and suppression,
    # the JSON validates, and the SARIF log goes to the validator with its baselineState,
    # baselineGuid and external suppressions.
    current_case[0] = "adoption"
    examples = os.path.join(source, "examples")
    _, baseline_json, _ = run(drelk, examples, ["-fjson", "main.obj", "solver.obj"])
    baseline = os.path.join(work, "baseline.json")
    with open(baseline, "wb") as file:
        file.write(baseline_json)
    suppressions = os.path.join(work, "suppressions.txt")
    with open(suppressions, "w", encoding="utf-8") as file:
        file.write("_set*_ procedure-clash  # renamed in the next release\n")
    adopted = ["--baseline", baseline, "--suppressions", suppressions, "*.obj", "lib/physics.lib"]
    _, adopted_json, _ = run(drelk, examples, ["-fjson"] + adopted)
    _, adopted_sarif, _ = run(drelk, examples, ["-fsarif"] + adopted)
    if options.keep:
        with open(os.path.join(options.keep, "adoption.sarif"), "wb") as file:
            file.write(adopted_sarif)
    adopted_document = json.loads(adopted_json.decode("utf-8"))
    errors = sorted(validator.iter_errors(adopted_document), key=lambda e: list(e.path))
    check(not errors, "adoption json: " + "; ".join(e.message for e in errors[:3]))
    states = {f["block"]: (f.get("baseline"), "suppressed" in f)
              for f in adopted_document["findings"]}
    check(states == {"_grid_": ("updated", False), "_setup_": ("new", True)},
          "adoption: states and suppressions %s" % states)
    adopted_run = json.loads(adopted_sarif.decode("utf-8"))["runs"][0]
    check(adopted_run.get("baselineGuid") == adopted_document["baseline"]["guid"] and
          [r.get("baselineState") for r in adopted_run["results"]] == ["updated", "new"] and
          adopted_run["results"][1]["suppressions"][0]["kind"] == "external",
          "adoption: SARIF baselineState, baselineGuid and suppressions")

    for failure in failures[:40]:
        print("FAILED:", failure)
    print("%d passed, %d failed" % (len(cases) + 2 - len(failed_cases), len(failed_cases)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
