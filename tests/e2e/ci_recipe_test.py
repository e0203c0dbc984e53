#!/usr/bin/env python3
"""The user guide's CI recipes, run as CI runners run them: the GitHub job's use of drelk's
Action (its steps under `bash -eo pipefail`, with the inputs the recipe sets), and the GitLab
job that extends the template's `.drelk` job (its script lines one after another under
`set -e`, with the recipe's variables). Each must fail on objects with COMMON block errors
and on a diagnostic, showing the problem in the job's log, and pass on objects without
errors; the GitLab job leaves a Code Quality report.

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

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                                "integrations"))
import integrations_test  # noqa: E402  (runs the Action's steps as a runner does)


def guide_jobs(guide):
    """The inputs of the GitHub step that uses drelk's Action, and the GitLab job that
    extends .drelk."""
    blocks = [yaml.safe_load(b) for b in re.findall(r"```yaml\n(.*?)```", guide, re.S)]
    github = gitlab = None
    for block in blocks:
        if not isinstance(block, dict):
            continue
        if "jobs" in block:
            for job in block["jobs"].values():
                for step in job["steps"]:
                    if re.match(r"[^/]+/drelk@", step.get("uses", "")):
                        github = {k: str(v) for k, v in step.get("with", {}).items()}
        for job in block.values():
            if isinstance(job, dict) and job.get("extends") == ".drelk":
                gitlab = job
    return github, gitlab


def tree(work, name, objects, libraries, source, damaged):
    """A build tree as the jobs find it: objects in folders of their own, a library, and
    files that are not objects."""
    directory = os.path.join(work, name)
    shutil.rmtree(directory, ignore_errors=True)
    objects_folder = os.path.join(directory, "build", "CMakeFiles", "prog.dir")
    os.makedirs(objects_folder)
    os.makedirs(os.path.join(directory, "build", "lib"))
    os.makedirs(os.path.join(directory, "build", "CMakeFiles", "empty.dir"))
    with open(os.path.join(directory, "build", "CMakeCache.txt"), "w") as f:
        f.write("CMAKE_BUILD_TYPE:STRING=Release\n")
    for o in objects:
        shutil.copy(os.path.join(source, "examples", o), objects_folder)
    for lib in libraries:
        shutil.copy(os.path.join(source, lib), os.path.join(directory, "build", "lib"))
    if damaged:
        # An object cut short after its file header: a diagnostic.
        with open(os.path.join(source, "examples", objects[0]), "rb") as f:
            head = f.read(40)
        with open(os.path.join(objects_folder, "cut.obj"), "wb") as f:
            f.write(head)
    return directory


def run_gitlab(source, job, directory, path):
    with open(os.path.join(source, "integrations", "gitlab", "drelk.gitlab-ci.yml"),
              encoding="utf-8") as f:
        template = yaml.safe_load(f)[".drelk"]
    env = dict(os.environ, PATH=path)
    env.update({k: str(v) for k, v in template.get("variables", {}).items()})
    env.update({k: str(v) for k, v in job.get("variables", {}).items()})
    script = "set -e\n" + "\n".join(job.get("script", template["script"]))
    result = subprocess.run(["bash", "--noprofile", "--norc", "-c", script], cwd=directory,
                            env=env, capture_output=True, text=True, timeout=120)
    return result.returncode, result.stdout + result.stderr


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--drelk", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    if shutil.which("jq") is None:
        print("ci_recipe_test: jq is missing (apt-get install jq)")
        return 77
    source = os.path.abspath(args.source)
    drelk = os.path.abspath(args.drelk)
    with open(os.path.join(source, "docs", "guide.md"), encoding="utf-8") as f:
        github, gitlab = guide_jobs(f.read())
    if github is None or gitlab is None:
        print("ci_recipe_test: the guide's GitHub step or GitLab job was not found")
        return 1
    os.makedirs(args.work, exist_ok=True)
    path = os.path.dirname(drelk) + os.pathsep + os.environ["PATH"]
    all_objects = sorted(o for o in os.listdir(os.path.join(source, "examples"))
                         if o.endswith(".obj"))
    cases = [
        # name, objects, libraries, a damaged object, the job passes, what the log must show
        ("errors", all_objects, ["examples/lib/physics.lib"], False, False, "_grid_"),
        ("clean", ["main.obj", "setup.obj", "wclock.obj"],
         ["tests/data/archives/imports.lib"], False, True, None),
        ("diagnostic", ["main.obj"], [], True, False, "Drelk: "),
    ]
    failures = 0
    for case, objects, libraries, damaged, passes, shown in cases:
        for job in ("GitHub", "GitLab"):
            directory = tree(os.path.abspath(args.work), f"{job}-{case}", objects, libraries,
                             source, damaged)
            if job == "GitHub":
                # The recipe's inputs; the program built here stands for the Action's build.
                inputs = dict(github, drelk=drelk)
                status, log = integrations_test.run_action(source, directory, inputs, path)
            else:
                status, log = run_gitlab(source, gitlab, directory, path)
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
