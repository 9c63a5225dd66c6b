#!/usr/bin/python3
"""The test suite on every CPython this machine has.

    build-aux/interpreters.py test --main PYTHON [--main-label TEXT] [PYTEST_ARGUMENT...]
    build-aux/interpreters.py bench --main PYTHON [RUN_ARGUMENT...]
    build-aux/interpreters.py table RESULTS.json...
    build-aux/interpreters.py list
    build-aux/interpreters.py build PYTHON...

`test` runs the suite first with PYTHON, the main interpreter (the one with the real toolkit,
testing the module installed into its environment), then builds the module for each other
interpreter found (pyenv's under `pyenv root`, and /usr/bin/python3.N or /usr/local/bin/python3.N
of another version) into build-py/VERSION/ and runs the same suite there against that build.
Where an interpreter lacks the real toolkit, the debug interpreter or a test tool, the tests
that need it are skipped with their reason. Other interpreters get pytest, Hypothesis and their
dependencies from Debian's pure-Python packages, copied into build-py/site/.

Each interpreter is first asked to import the toolkit and pandas, as the module does at load.
Where one of them cannot be imported (missing, or, in Debian's shared dist-packages, built for
other versions only), the project's stand-in goes first on that interpreter's PYTHONPATH, which
the fresh interpreters of the suite inherit: tests/stubs (the stub toolkit and pandas) where
the toolkit fails, tests/stubs-pandas (pandas alone, beside the real toolkit) where only pandas
does. An interpreter that Debian's pytest does not support, or that has no headers to build
for, is not tested, with its reason.

The suite then runs again against a build without fast paths (Meson option
-Dfast_paths=false: the portable operations alone) on the main interpreter, or on every one:
KESTROVA_WITHOUT_FAST_PATHS is "main" (the default), "all" or "none".

The run starts with a header naming every interpreter, the module file it tests and the
stand-ins it uses, and ends with a pass count per interpreter. KESTROVA_PYTHONS, if set, names the other interpreters to
use instead of those found ("none": only the main one).
"""

import json
import os
import re
import shutil
import subprocess
import sys
import time
import xml.etree.ElementTree as ElementTree

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
BUILDS = os.path.join(ROOT, "build-py")
SITE = os.path.join(BUILDS, "site")
DEBIAN_PACKAGES = "/usr/lib/python3/dist-packages"
# Pure-Python test tools and what they import, as Debian installs them (each release has
# those its pytest and Hypothesis need).
TEST_TOOLS = ["pytest", "_pytest", "py.py", "pluggy", "iniconfig", "packaging", "attr", "attrs",
              "exceptiongroup", "tomli", "importlib_metadata", "zipp.py", "typing_extensions.py",
              "more_itertools", "hypothesis", "_hypothesis_globals.py", "_hypothesis_ftz_detector.py",
              "sortedcontainers", "pygments"]
OLDEST = (3, 7)
STUBS = os.path.join(ROOT, "tests", "stubs")
PANDAS_STAND_IN = os.path.join(ROOT, "tests", "stubs-pandas")
# What the module imports at load and a stand-in replaces; the reason each one fails, or "".
PROBE = """if True:
    import json
    def failure(statement):
        try:
            exec(statement, {})
        except Exception as error:
            return ("%s: %s" % (type(error).__name__, error)).splitlines()[0]
        return ""
    print(json.dumps([failure("import wx; from wx.lib.buttons import GenButton"), failure("import pandas")]))
"""

sys.path.insert(0, HERE)
import meson_setup  # noqa: E402


def describe(python):
    """(version tuple, version text, implementation) of an interpreter, or None if it does
    not run."""
    try:
        done = subprocess.run([python, "-c", "import sys, platform; print(platform.python_implementation(), "
                               "platform.python_version(), *sys.version_info[:2], hasattr(sys, 'gettotalrefcount'))"],
                              capture_output=True, text=True, timeout=60)
    except OSError:
        return None
    if done.returncode != 0:
        return None
    implementation, text, major, minor, debug = done.stdout.split()
    return (int(major), int(minor)), text, implementation, debug == "True"


def pyenv_interpreters():
    root = os.environ.get("PYENV_ROOT")
    if not root:
        try:
            root = subprocess.run(["pyenv", "root"], capture_output=True, text=True).stdout.strip()
        except OSError:
            root = os.path.expanduser("~/.pyenv")
    versions = os.path.join(root, "versions")
    if not os.path.isdir(versions):
        return []
    found = []
    for name in os.listdir(versions):
        python = os.path.join(versions, name, "bin", "python3")
        if os.access(python, os.X_OK):
            found.append(python)
    return found


def system_interpreters():
    found = []
    for directory in ("/usr/bin", "/usr/local/bin"):
        if os.path.isdir(directory):
            found += [os.path.join(directory, name) for name in os.listdir(directory)
                      if re.fullmatch(r"python3\.\d+", name)]
    return found


def other_interpreters(main):
    """[(python, version tuple, version text)] of the CPython interpreters from 3.7 on other
    than `main`, oldest first, one per installation."""
    chosen = os.environ.get("KESTROVA_PYTHONS")
    if chosen is not None:
        candidates = [] if chosen.strip() == "none" else chosen.split()
    else:
        candidates = system_interpreters() + pyenv_interpreters()
    main_info = describe(main)
    seen = {os.path.realpath(main)}
    found = []
    for python in candidates:
        real = os.path.realpath(python)
        if real in seen:
            continue
        seen.add(real)
        info = describe(python)
        if info is None or info[2] != "CPython" or info[0] < OLDEST or info[3]:
            continue
        # Another path to the main interpreter's own installation (a venv of it, say).
        if python.startswith("/usr/") and main_info and info[0] == main_info[0]:
            continue
        found.append((python, info[0], info[1]))
    return sorted(found, key=lambda item: (item[1], item[0]))


def copy_test_tools():
    """Debian's pure-Python pytest and Hypothesis, copied for interpreters of other versions
    (the copy, unlike Debian's directory, holds nothing compiled for one version only). What
    this release does not have is left out; an interpreter that needs it fails the check of
    `untestable` below."""
    os.makedirs(SITE, exist_ok=True)
    for name in TEST_TOOLS:
        source, target = os.path.join(DEBIAN_PACKAGES, name), os.path.join(SITE, name)
        if os.path.exists(target) or not os.path.exists(source):
            continue
        if os.path.isdir(source):
            shutil.copytree(source, target, ignore=shutil.ignore_patterns("__pycache__"))
        else:
            shutil.copy2(source, target)


def required_python(distribution):
    """(version text, Requires-Python) of a Debian package's distribution, or None."""
    import glob

    for metadata in (glob.glob(os.path.join(DEBIAN_PACKAGES, distribution + "-[0-9]*.dist-info", "METADATA")) +
                     glob.glob(os.path.join(DEBIAN_PACKAGES, distribution + "-[0-9]*.egg-info", "PKG-INFO"))):
        fields = {}
        with open(metadata, encoding="utf-8") as handle:
            for line in handle:
                if not line.strip():
                    break
                key, _, value = line.partition(":")
                fields.setdefault(key, value.strip())
        return fields.get("Version"), fields.get("Requires-Python")
    return None


def untestable(python, version_text, env):
    """Why the suite cannot run on another interpreter, or None: a test tool that does not
    support it or does not import there, or no headers to build the module with."""
    try:
        from packaging.specifiers import SpecifierSet
    except ImportError:
        SpecifierSet = None
    for distribution in ("pytest", "hypothesis"):
        found = required_python(distribution)
        if SpecifierSet and found and found[1] and version_text not in SpecifierSet(found[1]):
            return "Debian's %s %s needs Python %s" % (distribution, found[0], found[1])
    done = subprocess.run([python, "-c", "import pytest, hypothesis"], capture_output=True, text=True, env=env)
    if done.returncode != 0:
        return "Debian's pytest or Hypothesis does not import there (%s)" % (
            done.stderr.strip().splitlines() or ["?"])[-1]
    done = subprocess.run([python, "-c", "import os, sysconfig; print(os.path.exists(os.path.join("
                           "sysconfig.get_paths()['include'], 'Python.h')))"], capture_output=True, text=True)
    if done.stdout.strip() != "True":
        return "no headers to build the module with (Debian: python%s-dev)" % ".".join(version_text.split(".")[:2])
    return None


def stand_ins(python, env):
    """The stand-ins that `python` needs first on its path, and what the header says of
    them: the toolkit and pandas as the module imports them at load, the stand-in of each one
    that fails."""
    done = subprocess.run([python, "-c", PROBE], capture_output=True, text=True, env=env)
    try:
        toolkit, pandas = json.loads(done.stdout.strip().splitlines()[-1])
    except (IndexError, ValueError):
        toolkit = pandas = "the import check failed: %s" % (done.stderr.strip().splitlines() or ["?"])[-1]
    if toolkit:
        return [STUBS], ["toolkit and pandas: the stand-ins in tests/stubs (the toolkit does not import "
                         "here: %s)" % toolkit]
    if pandas:
        return [PANDAS_STAND_IN], ["pandas: the stand-in in tests/stubs-pandas, beside the real toolkit (pandas "
                                   "does not import here: %s)" % pandas]
    return [], []


def first_on_path(entries, env):
    """`env` with `entries` first on its PYTHONPATH."""
    return dict(env, PYTHONPATH=os.pathsep.join(entries + [part for part in [env.get("PYTHONPATH")] if part]))


PORTABLE_OPTIONS = ["-Dfast_paths=false"]


def build(python, version_text, options=(), suffix=""):
    """Builds the module for `python` into build-py/VERSION (and the suffix) and returns the
    directory and the module file."""
    directory = os.path.join(BUILDS, version_text + suffix)
    done = meson_setup.setup(directory, ROOT, python, ["-Dwerror=true", *options])
    if done is not None and done.returncode != 0:
        raise RuntimeError("meson setup for %s failed:\n%s%s" % (python, done.stdout[-3000:], done.stderr[-3000:]))
    done = subprocess.run(["ninja", "-C", directory], capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError("build for %s failed:\n%s" % (python, done.stdout[-5000:]))
    (module,) = [name for name in os.listdir(directory) if name.startswith("KestrovaGUI.") and
                 name.endswith((".so", ".pyd"))]
    return directory, os.path.join(directory, module)


def installed_module(python):
    done = subprocess.run([python, "-c", "import importlib.util; print(importlib.util.find_spec('KestrovaGUI').origin)"],
                          capture_output=True, text=True)
    return done.stdout.strip() if done.returncode == 0 else "(not importable: %s)" % done.stderr.strip()[-200:]


def counts(junit):
    try:
        root = ElementTree.parse(junit).getroot()
    except (OSError, ElementTree.ParseError):
        return None
    suite = root if root.tag == "testsuite" else root.find("testsuite")
    values = {key: int(suite.get(key, 0)) for key in ("tests", "failures", "errors", "skipped")}
    values["passed"] = values["tests"] - values["failures"] - values["errors"] - values["skipped"]
    return values


def summary(result):
    if result is None:
        return "no results"
    parts = ["%d passed" % result["passed"]]
    parts += ["%d %s" % (result[key], key) for key in ("failures", "errors", "skipped") if result[key]]
    return ", ".join(parts)


def run_suite(python, env, junit, arguments):
    if os.path.exists(junit):
        os.remove(junit)
    command = [python, "-m", "pytest", "-p", "no:cacheprovider", "-rs", "--junitxml", junit, *arguments,
               os.path.join(ROOT, "tests")]
    start = time.monotonic()
    status = subprocess.run(command, env=env, cwd=ROOT).returncode
    return status, counts(junit), time.monotonic() - start


def test(arguments):
    main, label, pytest_arguments = arguments.main, arguments.main_label, arguments.pytest
    others = other_interpreters(main)
    if others:
        copy_test_tools()

    planned = []  # (title, python, env, junit, module, notes)
    main_info = describe(main)
    main_env = dict(os.environ, KESTROVA_INSTALLED="1")
    entries, notes = stand_ins(main, main_env)
    planned.append(("CPython %s, %s" % (main_info[1], label), main, first_on_path(entries, main_env),
                    os.path.join(BUILDS, "main-junit.xml"), installed_module(main), notes))
    failures, not_tested = [], []
    for python, _, version_text in others:
        title = "CPython %s, %s" % (version_text, python)
        env = {key: value for key, value in os.environ.items() if key not in ("KESTROVA_INSTALLED", "PYTHONPATH")}
        env.update(PYTHONPATH=SITE)
        reason = untestable(python, version_text, env)
        if reason:
            not_tested.append("%s: not tested: %s" % (title, reason))
            continue
        try:
            directory, module = build(python, version_text)
        except RuntimeError as error:
            print(error)
            failures.append("%s: build failed" % title)
            continue
        env.update(KESTROVA_BUILD=directory)
        entries, notes = stand_ins(python, env)
        planned.append((title, python, first_on_path(entries, env), os.path.join(directory, "junit.xml"), module,
                        notes))

    # Without fast paths: the main interpreter, or every one.
    chosen = os.environ.get("KESTROVA_WITHOUT_FAST_PATHS", "main").strip()
    if chosen not in ("main", "all", "none"):
        print("KESTROVA_WITHOUT_FAST_PATHS must be main, all or none, not %r" % chosen)
        return 2
    portable = [] if chosen == "none" else planned[:1] if chosen == "main" else list(planned)
    for title, python, env, _, _, notes in portable:
        version_text = describe(python)[1]
        env = {key: value for key, value in env.items() if key != "KESTROVA_INSTALLED"}
        try:
            directory, module = build(python, version_text, PORTABLE_OPTIONS, "-portable")
        except RuntimeError as error:
            print(error)
            failures.append("%s: build without fast paths failed" % title)
            continue
        # Its own variants (the sanitizer and leak builds) have no fast paths either.
        env.update(KESTROVA_BUILD=directory, KESTROVA_PORTABLE="1")
        planned.append(("CPython %s, without fast paths (%s)" % (version_text, " ".join(PORTABLE_OPTIONS)),
                        python, env, os.path.join(directory, "junit.xml"), module, notes))

    print("Interpreters tested, and the module file each one tests:")
    for title, _, _, _, module, notes in planned:
        print("  %s: %s" % (title, module))
        for note in notes:
            print("      " + note)
    for line in not_tested + failures:
        print("  " + line)
    if not others:
        print("  (no other interpreter on this machine: pyenv's or /usr/bin/python3.N; the suite runs on "
              "the main one only)")
    sys.stdout.flush()

    results = []
    for title, python, env, junit, _, _ in planned:
        print("\n=== %s" % title, flush=True)
        status, result, seconds = run_suite(python, env, junit, pytest_arguments)
        results.append((title, status, result, seconds))
    print("\nPass counts per interpreter:")
    for title, status, result, seconds in results:
        print("  %s: %s in %.0f s%s" % (title, summary(result), seconds, "" if status == 0 else " (FAILED)"))
    for line in not_tested + failures:
        print("  " + line)
    return 0 if not failures and all(status == 0 for _, status, _, _ in results) else 1


def bench(arguments):
    """make bench: the full benchmark run on the main interpreter, the stub-toolkit table on
    every other one, then one table with a ratio column per interpreter."""
    import json

    sys.path.insert(0, os.path.join(ROOT, "benchmarks"))
    import run

    runner = os.path.join(ROOT, "benchmarks", "run.py")
    results_dir = os.path.join(ROOT, "build-bench")
    os.makedirs(results_dir, exist_ok=True)
    main_info = describe(arguments.main)
    planned = [(main_info[1], arguments.main, os.path.join(ROOT, "build"), [])]
    for python, _, version_text in other_interpreters(arguments.main):
        planned.append((version_text, python, build(python, version_text)[0], ["--sections", "stub"]))
    runs = []
    for label, python, directory, options in planned:
        output = os.path.join(results_dir, "results-%s.json" % label)
        print("\n=== CPython %s (%s)" % (label, python), flush=True)
        subprocess.run([python, runner, "--build", directory, "--json", output, *options, *arguments.run],
                       check=True)
        with open(output) as handle:
            runs.append((label, json.load(handle)))
    table = os.path.join(results_dir, "interpreters.md")
    with open(table, "w") as handle:
        handle.write(run.interpreters_markdown(runs))
    print("\nAll interpreters (stub toolkit ratios, module / plain):\n")
    with open(table) as handle:
        print(handle.read())
    print("Written to %s" % table)
    return 0


def table(paths):
    """Prints one table from the results of several runs (on several machines, say): the first
    file's interpreter gives the times per call."""
    sys.path.insert(0, os.path.join(ROOT, "benchmarks"))
    import run

    runs = []
    for path in paths:
        with open(path) as handle:
            results = json.load(handle)
        label = os.path.basename(path)[len("results-"):-len(".json")] if os.path.basename(path).startswith(
            "results-") else results["machine"].get("python", path)
        runs.append((label, results))
    print(run.interpreters_markdown(runs))
    return 0


def main():
    import argparse

    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    run = commands.add_parser("test")
    run.add_argument("--main", required=True, help="the main interpreter (with the real toolkit)")
    run.add_argument("--main-label", default="real toolkit, installed module")
    run.add_argument("pytest", nargs="*", help="further pytest arguments")
    timing = commands.add_parser("bench")
    timing.add_argument("--main", required=True, help="the main interpreter (with the real toolkit)")
    timing.add_argument("run", nargs="*", help="further benchmarks/run.py arguments")
    tabling = commands.add_parser("table", help="one table from the results of several runs of `bench`")
    tabling.add_argument("results", nargs="+", help="build-bench/results-VERSION.json files, main one first")
    commands.add_parser("list")
    make = commands.add_parser("build")
    make.add_argument("python", nargs="+")
    arguments = parser.parse_args()
    if arguments.command == "test":
        sys.exit(test(arguments))
    if arguments.command == "bench":
        sys.exit(bench(arguments))
    if arguments.command == "table":
        sys.exit(table(arguments.results))
    if arguments.command == "list":
        for python, _, version_text in other_interpreters(sys.executable):
            print("CPython %s %s" % (version_text, python))
    else:
        for python in arguments.python:
            info = describe(python)
            print(build(python, info[1])[1])


if __name__ == "__main__":
    main()
