"""Reference and memory leaks: leak_driver.py runs every callable, every error path and every
injected toolkit fault thousands of times against the stub toolkit, measuring the allocated
memory blocks around them, and under the debug interpreter also the total reference count.
The module is built a second time for the debug interpreter of this version where the system
has one (python3-dbg, or python3.N-dbg beside another Debian interpreter), and for this
interpreter itself otherwise."""

import json
import os
import subprocess
import sys

import pytest
from conftest import STUBS, TESTS
from load_faults import STEPS
from public_api import CALLABLES

ITERATIONS = 2000


def debug_python():
    """The system's debug build of this interpreter, if it has one (python3.X-dbg, or
    python3-dbg of this version)."""
    if sys.base_prefix != "/usr":
        return None
    for python in ("/usr/bin/python%d.%d-dbg" % sys.version_info[:2], "/usr/bin/python3-dbg"):
        if os.path.exists(python):
            version = subprocess.run([python, "-c", "import sys; print(sys.version_info[:2])"],
                                     capture_output=True, text=True).stdout.strip()
            if version == str(sys.version_info[:2]):
                return python
    return None


@pytest.fixture(scope="module")
def report(build_variant, tmp_path_factory):
    debug = debug_python()
    if debug:
        variant = build_variant("dbg", "-Dbuildtype=debug", plain=True, python=debug)
    else:
        variant = build_variant("leaks", "-Dbuildtype=debug", plain=True)
    results = tmp_path_factory.mktemp("leaks") / "results.json"
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(STUBS), str(variant), str(TESTS)]))
    # Sanitizer runtimes of an outer run have no business in the debug interpreter.
    env.pop("LD_PRELOAD", None)
    # Development mode adds the interpreter's own checks; whatever they or an exception
    # that could not be raised would print goes to stderr, which must stay empty. Without
    # the site module no installed import hooks add their own noise to the counts.
    process = subprocess.run([debug or sys.executable, "-S", "-X", "dev", str(TESTS / "leak_driver.py"), str(results),
                              str(ITERATIONS)], capture_output=True, text=True, env=env, timeout=900)
    assert process.returncode == 0 and process.stderr == "", process.stderr[-5000:]
    return json.loads(results.read_text())


def describe(record):
    text = "%s: %s leaks %+d references and %+d memory blocks over %d runs of its %d cases" % (
        record["callable"], record["scenario"], record["refs"], record["blocks"], record["iterations"],
        record["cases"])
    return "\n    ".join([text] + record["leaking_cases"])


def leaks(record):
    from leak_driver import leaked

    return leaked(max(record["refs"], record["blocks"]), record["iterations"])


@pytest.mark.parametrize("callable_name", sorted(CALLABLES) + ["tombol", "load"])
def test_no_leaks(report, callable_name):
    records = [r for r in report if r["callable"] == callable_name]
    assert records, "%s was not driven" % callable_name
    wrong = [w for r in records for w in r["wrong_outcomes"]]
    assert not wrong, "cases that did not end as intended:\n" + "\n".join(wrong)
    leaking = [describe(r) for r in records if leaks(r)]
    assert not leaking, "\n".join(leaking)
    assert sum(r["iterations"] for r in records) >= 1000


def test_every_path_is_driven(report):
    scenarios = {(r["callable"], r["scenario"].split(":")[0]) for r in report}
    for qualname in CALLABLES:
        for kind in ("calls", "argument errors", "toolkit faults"):
            assert (qualname, kind) in scenarios, (qualname, kind)
    loads = [r["scenario"] for r in report if r["callable"] == "load"]
    assert sum(s.startswith("failed load") for s in loads) == len(STEPS) and len(loads) == len(STEPS) + 2


def test_measurement_sees_a_leak(report):
    """The driver's own check: a case that keeps one object per run is reported."""
    (record,) = [r for r in report if r["callable"] == "self-check"]
    counted = "refs" if record["debug"] else "blocks"  # a release build counts no references
    assert leaks(record) and record[counted] >= record["iterations"]

