"""Reference and memory leaks, under the debug interpreter: the module is built a second
time for python3-dbg, and leak_driver.py runs every callable, every error path and every
injected toolkit fault thousands of times against the stub toolkit, measuring the total
reference count and the allocated memory blocks around them."""

import json
import os
import subprocess

import pytest
from conftest import STUBS, TESTS
from load_faults import STEPS
from public_api import CALLABLES

DEBUG_PYTHON = "/usr/bin/python3-dbg"
ITERATIONS = 2000


@pytest.fixture(scope="module")
def report(build_variant, tmp_path_factory):
    variant = build_variant("dbg", "-Dpython=" + DEBUG_PYTHON, "-Dbuildtype=debug", plain=True)
    results = tmp_path_factory.mktemp("leaks") / "results.json"
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(STUBS), str(variant), str(TESTS)]))
    # Sanitizer runtimes of an outer run have no business in the debug interpreter.
    env.pop("LD_PRELOAD", None)
    # Development mode adds the interpreter's own checks; whatever they or an exception
    # that could not be raised would print goes to stderr, which must stay empty. Without
    # the site module no installed import hooks add their own noise to the counts.
    process = subprocess.run([DEBUG_PYTHON, "-S", "-X", "dev", str(TESTS / "leak_driver.py"), str(results),
                              str(ITERATIONS)], capture_output=True, text=True, env=env, timeout=900)
    assert process.returncode == 0 and process.stderr == "", process.stderr[-5000:]
    return json.loads(results.read_text())


def describe(record):
    text = "%s: %s leaks %+d references and %+d memory blocks over %d runs of its %d cases" % (
        record["callable"], record["scenario"], record["refs"], record["blocks"], record["iterations"],
        record["cases"])
    return "\n    ".join([text] + record["leaking_cases"])


def leaks(record, limit):
    return record["refs"] > limit or record["blocks"] > limit


@pytest.mark.parametrize("callable_name", sorted(CALLABLES) + ["tombol", "load"])
def test_no_leaks(report, callable_name):
    from leak_driver import LEAK_LIMIT

    records = [r for r in report if r["callable"] == callable_name]
    assert records, "%s was not driven" % callable_name
    wrong = [w for r in records for w in r["wrong_outcomes"]]
    assert not wrong, "cases that did not end as intended:\n" + "\n".join(wrong)
    leaking = [describe(r) for r in records if leaks(r, LEAK_LIMIT)]
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
    from leak_driver import LEAK_LIMIT

    (record,) = [r for r in report if r["callable"] == "self-check"]
    assert leaks(record, LEAK_LIMIT) and record["refs"] >= record["iterations"]

