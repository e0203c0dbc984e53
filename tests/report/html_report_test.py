#!/usr/bin/env python3
"""drelk's HTML report in a real browser: Debian's Chromium, headless, loads the page that
`drelk -fhtml` writes and gives back the DOM after its script ran. The page must show a row
per block and every finding, show names from the objects as text (a block named
`<script>...` stays text, never markup), open a block's declarations when its row is
opened, and load nothing: its Content-Security-Policy forbids every load, and no address
of another origin appears in it.

Exit status 77 (skipped) when chromium or an assembler is missing."""
import argparse
import os
import re
import shutil
import subprocess
import sys

CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                  "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync"]


def chromium():
    for name in ("chromium", "chromium-browser"):
        if shutil.which(name):
            return name
    return None


def dump_dom(browser, page, work, extra=()):
    profile = os.path.join(work, "profile")
    shutil.rmtree(profile, ignore_errors=True)
    result = subprocess.run([browser, *CHROMIUM_FLAGS, f"--user-data-dir={profile}",
                             *extra, "--dump-dom", "file://" + os.path.abspath(page)],
                            capture_output=True, text=True, timeout=120)
    return result.stdout


def drelk_html(drelk, arguments, cwd, page):
    result = subprocess.run([drelk, "-fhtml", "-o" + page, *arguments], cwd=cwd,
                            capture_output=True, text=True, timeout=120)
    return result.returncode


def assemble(work, name, lines):
    """A real ELF object from GNU as: quoted symbol names may hold any byte."""
    source = os.path.join(work, name + ".s")
    with open(source, "w", encoding="utf-8") as f:
        f.write("".join(line + "\n" for line in lines))
    subprocess.run(["gcc", "-c", source, "-o", os.path.join(work, name + ".o")], check=True)
    return name + ".o"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--drelk", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    args.drelk = os.path.abspath(args.drelk)
    browser = chromium()
    if browser is None or shutil.which("gcc") is None:
        print("html_report_test: chromium or gcc is missing (apt-get install chromium)")
        return 77
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    failures = []

    def check(what, ok):
        print(f"{'ok  ' if ok else 'FAIL'} {what}")
        if not ok:
            failures.append(what)

    # The sample objects: six blocks, a size finding and a procedure clash.
    page = os.path.join(args.work, "examples.html")
    status = drelk_html(args.drelk, ["*", "lib/*.lib"], os.path.join(args.source, "examples"),
                        page)
    check("drelk -fhtml on the examples exits 0", status == 0)
    with open(page, encoding="utf-8") as f:
        html = f.read()
    check("the page forbids every load",
          "content=\"default-src 'none'; style-src 'unsafe-inline'; script-src "
          "'unsafe-inline'\"" in html)
    check("the page names no address elsewhere",
          re.search(r"(?:https?:|ftp:|//[a-z])", html, re.I) is None and
          re.search(r"<(?:link|img|iframe|object|embed)\b|\bsrc=|@import|url\(", html) is None)
    dom = dump_dom(browser, page, args.work)
    rows = re.findall(r'<tr data-name="([^"]*)"', dom)
    check("a row for each of the six blocks",
          rows == ["___BLNK__", "_grid_", "_iounit_", "_ncalls", "_params_", "_setup_"])
    findings = re.findall(r'<article class="finding [a-z]+" data-block="([^"]*)"', dom)
    check("both findings", findings == ["_grid_", "_setup_"])
    check("the summary", "6 blocks in 9 objects" in dom)

    # A note of its own: a definition less aligned than a declaration asks for.
    page = os.path.join(args.work, "alignment.html")
    drelk_html(args.drelk, ["x86_64/vecdecl.o", "x86_64/vecdef.o"],
               os.path.join(args.source, "tests", "data", "alignment"), page)
    dom = dump_dom(browser, page, args.work)
    check("the alignment note and its definition",
          re.findall(r'<article class="finding ([a-z]+)" data-block="([^"]*)"', dom)
          == [("note", "vec_")] and "alignment-smaller" in dom
          and "alignment 4 in <code>x86_64/vecdef.o</code>" in dom)

    # Against a baseline, with suppressions: each finding's state, the suppressed ones apart.
    baseline = os.path.join(args.work, "baseline.json")
    subprocess.run([args.drelk, "-fjson", "-o" + baseline, "main.obj", "solver.obj"],
                   cwd=os.path.join(args.source, "examples"), check=True)
    suppressions = os.path.join(args.work, "suppressions.txt")
    with open(suppressions, "w", encoding="utf-8") as f:
        f.write("_setup_ # renamed in the next release\n")
    page = os.path.join(args.work, "adopted.html")
    drelk_html(args.drelk, ["--baseline", baseline, "--suppressions", suppressions, "*",
                            "lib/*.lib"], os.path.join(args.source, "examples"), page)
    dom = dump_dom(browser, page, args.work)
    findings_part = dom[dom.find('id="findings"'):dom.find('id="suppressed"')]
    suppressed_part = dom[dom.find('id="suppressed"'):dom.find('id="blocks"')]
    check("a finding shows its baseline state",
          '<span class="badge state">updated</span><code>_grid_</code>' in findings_part)
    check("a suppressed finding stands apart with its reason",
          'data-block="_setup_"' in suppressed_part and "renamed in the next release" in
          suppressed_part and 'data-block="_setup_"' not in findings_part)

    # Names that are markup stay text; a block's declarations appear when its row opens.
    work = os.path.join(args.work, "hostile")
    os.makedirs(work)
    objects = [assemble(work, "a", ['.comm "<script>alert(1)</script>",40,8',
                                    '.comm "a&b\\"c",8,8', '.comm "\\377bad",4,4']),
               assemble(work, "b", ['.comm "<script>alert(1)</script>",80,8'])]
    page = os.path.join(work, "hostile.html")
    drelk_html(args.drelk, objects, work, page)
    # Rows open as the page loads have their declarations listed by the page's script.
    with open(page, encoding="utf-8", errors="replace") as f:
        html = f.read()
    opened = os.path.join(work, "opened.html")
    with open(opened, "w", encoding="utf-8") as f:
        f.write(html.replace("<details data-row=", "<details open data-row="))
    dom = dump_dom(browser, opened, work)
    check("one script element, the page's own", len(re.findall(r"<script\b(?![^>]*json)", dom)) == 1)
    check("a markup name shows as text",
          "<code>&lt;script&gt;alert(1)&lt;/script&gt;</code>" in dom and
          "<script>alert(1)" not in dom)
    check("quotes and ampersands stay text", "a&amp;b\"c" in dom or "a&amp;b&quot;c" in dom)
    check("a byte that is not UTF-8 shows as U+FFFD", "\ufffdbad" in dom)
    check("opened rows list their declarations",
          len(re.findall(r"<li>\d+ <code>[ab]\.o</code></li>", dom)) == 4)

    # A dylib records no size: its line shows '-', the note has a finding of its own, and
    # the block's sizes are the objects' alone.
    shlib = os.path.join(args.source, "tests", "data", "shlib")
    page = os.path.join(args.work, "libraries.html")
    drelk_html(args.drelk, ["macuser.o", "macuser2.o", "libmac.dylib"], shlib, page)
    with open(page, encoding="utf-8") as f:
        html = f.read()
    opened = os.path.join(args.work, "libraries-opened.html")
    with open(opened, "w", encoding="utf-8") as f:
        f.write(html.replace("<details data-row=", "<details open data-row="))
    dom = dump_dom(browser, opened, args.work)
    classes = re.findall(r'<article class="finding ([a-z]+)" data-block="_shared_"', dom)
    check("a library without sizes is a note of its own", classes == ["warning", "note"])
    check("its declaration shows no size",
          '<td class="num">-</td><td>yes</td><td><code>libmac.dylib</code>' in dom and
          '<td class="num">0</td>' not in dom)
    check("the block's sizes are the objects'", re.search(r">88, 40<", dom) is not None)
    check("an opened row shows the library without a size",
          "<li>- I <code>libmac.dylib</code></li>" in dom)

    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
