#!/usr/bin/env python3
"""drelk's integrations run for real: the CMake package and drelk_check() on a gfortran
project, the fpm plugin on fpm's build folder layout, the pre-commit hook through
`pre-commit try-repo`, the GitHub Action's shell steps as a runner runs them, and the GitLab
job template's script. Each must pass on objects whose COMMON blocks agree, fail on a
mismatch with the block named in its log, and fail on an input that cannot be read.

One integration a run (--only); exit status 77 (skipped) when what it needs is missing."""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys

A_F = """      SUBROUTINE SA
      COMMON /Q/ IQ(10)
      IQ(1) = 1
      END
"""
B_F = """      SUBROUTINE SB
      COMMON /Q/ IQ({n})
      IQ(2) = 2
      END
"""
MAIN_F = """      PROGRAM P
      CALL SA
      CALL SB
      END
"""


class Skip(Exception):
    pass


def need(program):
    if shutil.which(program) is None:
        raise Skip(f"{program} is missing")


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def run(command, cwd, env=None, timeout=300):
    result = subprocess.run(command, cwd=cwd, env=env, capture_output=True, text=True,
                            timeout=timeout)
    return result.returncode, result.stdout + result.stderr


def fresh(work, name):
    directory = os.path.join(work, name)
    shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(directory)
    return directory


def compile_objects(directory, size):
    """Real gfortran objects: /Q/ of 10 words in sa, of `size` words in sb."""
    need("gfortran")
    write(os.path.join(directory, "a.f"), A_F)
    write(os.path.join(directory, "b.f"), B_F.format(n=size))
    for source in ("a.f", "b.f"):
        status, log = run(["gfortran", "-c", source], directory)
        if status != 0:
            raise RuntimeError(f"gfortran -c {source}: {log}")
    return [os.path.join(directory, "a.o"), os.path.join(directory, "b.o")]


def expect(checks, what, status, log, passes, shown=None):
    wrong = (status == 0) != passes or (shown is not None and shown not in log)
    checks.append((what, not wrong, f"exit status {status}" + (f"\n{log}" if wrong else "")))


def test_cmake(args, work, checks):
    need("gfortran")
    prefix = os.path.join(work, "prefix")
    shutil.rmtree(prefix, ignore_errors=True)
    status, log = run(["cmake", "--install", args.build, "--prefix", prefix], work)
    if status != 0:
        raise RuntimeError(f"cmake --install: {log}")
    project = fresh(work, "cmake-project")
    write(os.path.join(project, "CMakeLists.txt"), """cmake_minimum_required(VERSION 3.20)
project(demo Fortran)
find_package(drelk 1 REQUIRED)
add_library(solver STATIC a.f b.f)
add_executable(main main.f)
target_link_libraries(main solver)
drelk_check(TARGET solver main)
""")
    write(os.path.join(project, "a.f"), A_F)
    write(os.path.join(project, "b.f"), B_F.format(n=10))
    write(os.path.join(project, "main.f"), MAIN_F)
    build = os.path.join(project, "build")
    status, log = run(["cmake", "-S", project, "-B", build, f"-DCMAKE_PREFIX_PATH={prefix}"],
                      project)
    expect(checks, "CMake: find_package(drelk) configures", status, log, True)
    status, log = run(["cmake", "--build", build], project)
    expect(checks, "CMake: drelk_check passes on agreeing blocks", status, log, True)
    write(os.path.join(project, "b.f"), B_F.format(n=20))
    status, log = run(["cmake", "--build", build], project)
    expect(checks, "CMake: drelk_check fails the build on a mismatch", status, log, False,
           "q_ is declared with different sizes")


def test_fpm(args, work, checks):
    if shutil.which("fpm") is None:
        # Debian 12 has no fpm package: the plugin runs on the build folder fpm documents.
        print("integrations_test: fpm is not installed (Debian 12 has no package of it); "
              "fpm-drelk runs on fpm's documented build folder layout instead")
    plugin = os.path.join(args.source, "integrations", "fpm", "fpm-drelk")
    env = dict(os.environ, PATH=os.path.dirname(args.drelk) + os.pathsep + os.environ["PATH"])
    for case, size, passes, shown in (("clean", 10, True, None),
                                      ("mismatch", 20, False, "q_ is declared with different sizes")):
        project = fresh(work, f"fpm-{case}")
        # fpm's layout: one folder a compiler and flag set, a folder a package in it, the
        # package's library beside its objects, and the dependencies' sources apart.
        profile = os.path.join(project, "build", "gfortran_2A42023B310FA28D", "demo")
        os.makedirs(profile)
        for o in compile_objects(os.path.join(work, f"fpm-{case}-src"), size):
            shutil.copy(o, os.path.join(profile, "src_" + os.path.basename(o)[:-2] + ".f.o"))
        write(os.path.join(project, "build", "dependencies", "dep", "src", "x.f90"), "end\n")
        status, log = run(["sh", plugin], project, env)
        expect(checks, f"fpm: fpm-drelk on a {case} build", status, log, passes, shown)
    empty = fresh(work, "fpm-unbuilt")
    status, log = run(["sh", plugin], empty, env)
    expect(checks, "fpm: fpm-drelk before a build says so", status, log, False,
           "run fpm build first")


def test_precommit(args, work, checks):
    need("pre-commit")
    need("git")
    env = dict(os.environ, PATH=os.path.dirname(args.drelk) + os.pathsep + os.environ["PATH"],
               PRE_COMMIT_HOME=os.path.join(work, "pre-commit-home"))
    for case, size, passes, shown in (("clean", 10, True, None),
                                      ("mismatch", 20, False, "q_ is declared with different sizes")):
        project = fresh(work, f"pre-commit-{case}")
        run(["git", "init", "-q"], project)
        os.makedirs(os.path.join(project, "build"))
        for o in compile_objects(os.path.join(project, "build"), size):
            os.remove(o[:-2] + ".f")
        write(os.path.join(project, ".gitignore"), "build/\n")
        run(["git", "add", ".gitignore"], project)
        status, log = run(["pre-commit", "try-repo", args.source, "drelk", "--hook-stage",
                           "manual", "--all-files"], project, env)
        expect(checks, f"pre-commit: the drelk hook on a {case} build", status, log, passes,
               shown)


def substitute(text, inputs, outputs, source):
    """The expressions the action's steps use: inputs, earlier steps' outputs, its path."""
    def value(match):
        expression = match.group(1).strip()
        if expression.startswith("inputs."):
            return inputs[expression[len("inputs."):]]
        if expression.startswith("steps."):
            _, step, _, key = expression.split(".")
            return outputs.get(step, {}).get(key, "")
        if expression == "github.action_path":
            return source
        raise RuntimeError(f"unknown expression {expression}")
    return re.sub(r"\$\{\{(.*?)\}\}", value, text)


def run_action(source, directory, given, path):
    """The composite action's steps as a runner runs them: bash -eo pipefail, inputs with
    their defaults, each step's outputs from $GITHUB_OUTPUT. The upload step is only
    checked for its file."""
    import yaml
    with open(os.path.join(source, "action.yml"), encoding="utf-8") as f:
        action = yaml.safe_load(f)
    inputs = {name: str(declared.get("default", "")) for name, declared in action["inputs"].items()}
    inputs.update(given)
    outputs, log, status = {}, "", 0
    for number, step in enumerate(action["runs"]["steps"]):
        if "uses" in step:
            sarif = os.path.join(directory, inputs["sarif-file"])
            if not os.path.exists(sarif):
                return 1, log + f"\nno SARIF report {sarif} to upload"
            continue
        output_file = os.path.join(directory, f".github-output-{number}")
        open(output_file, "w").close()
        env = dict(os.environ, PATH=path, GITHUB_OUTPUT=output_file,
                   RUNNER_TEMP=os.path.join(directory, ".runner-temp"))
        for key, value in step.get("env", {}).items():
            env[key] = substitute(str(value), inputs, outputs, source)
        script = os.path.join(directory, f".step-{number}.sh")
        write(script, step["run"])
        status, step_log = run(["bash", "--noprofile", "--norc", "-eo", "pipefail", script],
                               directory, env, timeout=120)
        log += step_log
        with open(output_file, encoding="utf-8") as f:
            outputs[step.get("id", str(number))] = dict(
                line.rstrip("\n").split("=", 1) for line in f if "=" in line)
        if status != 0:
            break
    return status, log


def example_tree(work, name, source, objects, libraries):
    directory = fresh(work, name)
    os.makedirs(os.path.join(directory, "obj"))
    os.makedirs(os.path.join(directory, "lib"))
    for o in objects:
        shutil.copy(os.path.join(source, "examples", o), os.path.join(directory, "obj"))
    for lib in libraries:
        shutil.copy(os.path.join(source, lib), os.path.join(directory, "lib"))
    return directory


def example_cases(source):
    everything = sorted(o for o in os.listdir(os.path.join(source, "examples"))
                        if o.endswith(".obj"))
    return [
        # name, objects, libraries, the job passes, what the log must show
        ("errors", everything, ["examples/lib/physics.lib"], False, "_grid_"),
        ("clean", ["main.obj", "setup.obj", "wclock.obj"], ["tests/data/archives/imports.lib"],
         True, None),
        ("diagnostic", ["main.obj"], [], False, "Can't find file lib/*.lib"),
    ]


def test_action(args, work, checks):
    try:
        import yaml  # noqa: F401
    except ImportError:
        raise Skip("Python's yaml module is missing")
    path = os.path.dirname(args.drelk) + os.pathsep + os.environ["PATH"]
    for case, objects, libraries, passes, shown in example_cases(args.source):
        directory = example_tree(work, f"action-{case}", args.source, objects, libraries)
        status, log = run_action(args.source, directory,
                                 {"paths": "obj/* lib/*.lib", "drelk": args.drelk}, path)
        expect(checks, f"Action: the steps on {case} objects", status, log, passes, shown)
        if case == "errors":
            with open(os.path.join(directory, "drelk.sarif"), encoding="utf-8") as f:
                results = json.load(f)["runs"][0]["results"]
            checks.append(("Action: the SARIF report holds the findings", len(results) > 0,
                           f"{len(results)} results"))
    # Without the drelk input the program on PATH serves.
    directory = example_tree(work, "action-path", args.source, ["main.obj"], [])
    status, log = run_action(args.source, directory, {"paths": "obj/*"}, path)
    expect(checks, "Action: drelk found on PATH", status, log, True)


def test_gitlab(args, work, checks):
    try:
        import yaml
    except ImportError:
        raise Skip("Python's yaml module is missing")
    need("jq")
    with open(os.path.join(args.source, "integrations", "gitlab", "drelk.gitlab-ci.yml"),
              encoding="utf-8") as f:
        job = yaml.safe_load(f)[".drelk"]
    path = os.path.dirname(args.drelk) + os.pathsep + os.environ["PATH"]
    for case, objects, libraries, passes, shown in example_cases(args.source):
        directory = example_tree(work, f"gitlab-{case}", args.source, objects, libraries)
        env = dict(os.environ, PATH=path, **job["variables"])
        env["DRELK_PATHS"] = "obj/* lib/*.lib"
        # A runner runs the script lines one after another in one shell under set -e.
        script = "set -e\n" + "\n".join(job["script"])
        status, log = run(["bash", "--noprofile", "--norc", "-c", script], directory, env)
        expect(checks, f"GitLab: the job on {case} objects", status, log, passes, shown)
        report = os.path.join(directory, "gl-code-quality-report.json")
        if case != "diagnostic":
            with open(report, encoding="utf-8") as f:
                issues = json.load(f)
            fields = all({"check_name", "severity", "description", "fingerprint", "location"}
                         <= set(i) for i in issues)
            checks.append((f"GitLab: the Code Quality report on {case} objects",
                           fields and (len(issues) > 0) != passes, f"{len(issues)} issues"))


TESTS = {"cmake": test_cmake, "fpm": test_fpm, "pre-commit": test_precommit,
         "action": test_action, "gitlab": test_gitlab}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--drelk", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--only", required=True, choices=sorted(TESTS))
    args = parser.parse_args()
    args.drelk = os.path.abspath(args.drelk)
    work = os.path.join(args.work, args.only)
    os.makedirs(work, exist_ok=True)
    checks = []
    try:
        TESTS[args.only](args, work, checks)
    except Skip as reason:
        print(f"integrations_test: {args.only} skipped: {reason}")
        return 77
    for what, ok, detail in checks:
        print(f"{'ok  ' if ok else 'FAIL'} {what}: {detail}")
    return 0 if checks and all(ok for _, ok, _ in checks) else 1


if __name__ == "__main__":
    sys.exit(main())
