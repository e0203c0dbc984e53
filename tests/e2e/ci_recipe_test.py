#!/usr/bin/env python3
"""The README's CI jobs, run as CI runners run them: the GitHub Actions step under
`bash -eo pipefail`, the GitLab job's script lines one after another under `set -e`. Each
must fail on objects with COMMON block errors and on a diagnostic, showing the problem in
the job's log, and pass on objects without errors.

Exit status 77 (skipped) when jq or Python's yaml module is missing."""
import argparse
import os
import re
import shutil
import subprocess
import sys

try:
    import yaml
except ImportError:
    print("ci_recipe_test: Python's yaml module is missing (apt-get install python3-yaml)")
    sys.exit(77)


def readme_jobs(readme):
    """The GitHub step that runs drelk, and the GitLab job's script lines."""
    blocks = [yaml.safe_load(b) for b in re.findall(r"```yaml\n(.*?)```", readme, re.S)]
    github = gitlab = None
    for block in blocks:
        if "jobs" in block:
            for job in block["jobs"].values():
                for step in job["steps"]:
                    if "drelk " in step.get("run", ""):
                        github = step["run"]
        else:
            for job in block.values():
                if isinstance(job, dict) and "script" in job:
                    gitlab = job["script"]
    return github, gitlab


def run(script, directory, path):
    env = dict(os.environ, PATH=path)
    result = subprocess.run(["bash", "--noprofile", "--norc", "-eo", "pipefail", "-c", script],
                            cwd=directory, env=env, capture_output=True, text=True,
                            timeout=120)
    return result.returncode, result.stdout + result.stderr


def tree(work, name, objects, libraries, source):
    directory = os.path.join(work, name)
    shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(os.path.join(directory, "obj"))
    os.makedirs(os.path.join(directory, "lib"))
    for o in objects:
        shutil.copy(os.path.join(source, "examples", o), os.path.join(directory, "obj"))
    for lib in libraries:
        shutil.copy(os.path.join(source, lib), os.path.join(directory, "lib"))
    return directory


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--drelk", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    if shutil.which("jq") is None:
        print("ci_recipe_test: jq is missing (apt-get install jq)")
        return 77
    with open(os.path.join(args.source, "README.md"), encoding="utf-8") as f:
        github, gitlab = readme_jobs(f.read())
    if github is None or gitlab is None:
        print("ci_recipe_test: the README's GitHub step or GitLab script was not found")
        return 1
    os.makedirs(args.work, exist_ok=True)
    path = os.path.dirname(os.path.abspath(args.drelk)) + os.pathsep + os.environ["PATH"]
    all_objects = sorted(o for o in os.listdir(os.path.join(args.source, "examples"))
                         if o.endswith(".obj"))
    cases = [
        # name, objects, libraries, the job passes, what the log must show
        ("errors", all_objects, ["examples/lib/physics.lib"], False, "_grid_"),
        ("clean", ["main.obj", "setup.obj", "wclock.obj"],
         ["tests/data/archives/imports.lib"], True, None),
        ("diagnostic", ["main.obj"], [], False, "Can't find file lib/*.lib"),
    ]
    failures = 0
    jobs = [("GitHub", github), ("GitLab", "\n".join(gitlab))]
    for case, objects, libraries, passes, shown in cases:
        for job, script in jobs:
            directory = tree(args.work, f"{job}-{case}", objects, libraries, args.source)
            status, log = run(script, directory, path)
            wrong = (status == 0) != passes or (shown is not None and shown not in log)
            if wrong:
                failures += 1
                print(f"FAIL {job} job on {case}: exit status {status}\n{log}")
            else:
                print(f"ok   {job} job on {case}: exit status {status}")
            if job == "GitLab" and not wrong:
                report = os.path.join(directory, "gl-code-quality-report.json")
                if not os.path.exists(report):
                    failures += 1
                    print(f"FAIL GitLab job on {case}: no code quality report")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
