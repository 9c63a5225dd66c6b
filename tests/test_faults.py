"""Injected faults: a toolkit that raises at the k-th step of a call, for every k of every
initialiser, handler and function. The caller must receive that very exception, with the
module's traceback entry for the function that was running at a line inside its body,
and everything the call did before the fault must stay done."""

import importlib.util
import json
import re

import pytest
from conftest import LINES, ROOT, calls, module_entries, run_python
from faulty_toolkit import Toolkit, fault_for, run_faulted, targets
from load_faults import STEPS
from public_api import CALLABLES

TARGETS = targets()


def names_step(statement, what):
    """Whether `statement` names the toolkit step `what`: the attribute it reads or assigns,
    the method or class it calls, the arithmetic or comparison, or the print."""
    operation = re.match(r".* (\+|-|==) (.*)", what)
    if what.startswith("stdout."):
        token = "print("
    elif operation:
        token = " %s " % operation[1] + (operation[2].replace("'", '"') if operation[1] == "==" else "")
    else:
        token = re.sub(r"^\w+(?=\.)|\(\)$|(?<= =) \.\.\.$", "", what) + "(" * what.endswith("()")
    return token in statement


def test_listing_is_made_from_the_sources():
    """docs/lines.md shows what build-aux/lines.py makes of the statements in the sources."""
    spec = importlib.util.spec_from_file_location("lines", ROOT / "build-aux" / "lines.py")
    lines = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(lines)
    document = (ROOT / "docs" / "lines.md").read_text()
    assert lines.with_listing(document) == document, "docs/lines.md is out of date: run make lines"


@pytest.fixture(scope="module")
def toolkit():
    return Toolkit()


@pytest.fixture
def faulty(K, toolkit):
    restore = toolkit.bind(K)
    toolkit.start()
    yield toolkit
    restore()


def expected_entries(target, steps):
    """The module functions that the fault leaves, outermost first."""
    what = steps[-1][0]
    owner = target.owner(what, [s for s, _ in steps[:-1]])
    return [target.qualname] if owner == target.qualname else [target.qualname, owner]


@pytest.mark.parametrize("target", TARGETS, ids=str)
def test_fault_at_every_step(K, faulty, target):
    error, clean_steps = run_faulted(K, faulty, target, None, None)
    assert error is None, "the call fails without a fault: %r" % error
    clean_calls = calls(faulty.stub)
    assert clean_steps, "the call takes no step"

    last_line = {}
    for k in range(1, len(clean_steps) + 1):
        fault = fault_for(k)
        caught, steps = run_faulted(K, faulty, target, k, fault)
        what, log_length = clean_steps[k - 1]
        context = "fault at step %d (%s)" % (k, what)
        assert caught is fault, "%s: the caller got %r" % (context, caught)
        assert [s for s, _ in steps] == [s for s, _ in clean_steps[:k]], context

        # Everything done before the fault stays done, nothing after it happens.
        assert calls(faulty.stub) == clean_calls[:log_length], context

        entries = module_entries(caught.__traceback__)
        names = expected_entries(target, clean_steps[:k])
        assert [name for name, _ in entries] == [CALLABLES[n].traceback_name for n in names], context
        for qualname, (_, line) in zip(names, entries):
            function = CALLABLES[qualname]
            assert function.line < line and (function.end is None or line < function.end), context
        # The line map shows the failed call at the line of the innermost entry, and the
        # call of the inner function at the line of the outer one.
        statements = [LINES[name][line] for name, line in entries]
        assert names_step(statements[-1], what), "%s: line %d is %r" % (context, entries[-1][1], statements[-1])
        assert all(CALLABLES[inner].name + "(" in outer for inner, outer in zip(names[1:], statements)), context
        # Statements are numbered in the order they run.
        qualname, line = names[-1], entries[-1][1]
        assert line >= last_line.get(qualname, 0), context
        last_line[qualname] = line

    assert run_faulted(K, faulty, target, len(clean_steps) + 1, fault_for(0))[0] is None


def test_button_stays_named_after_a_fault(K, faulty):
    """Once its button exists, btnconfig's object names it, whatever fails afterwards."""
    panel = faulty.stub.Panel()
    btnconfig = K.tombol().btnconfig
    faulty.start()
    btnconfig(panel, "Go", (1, 2), (3, 4), 4, print)
    steps = [what for what, _ in faulty.plan.steps]
    stored = steps.index("tombol.btn = ...") + 1  # right after the button is made
    for k in range(1, len(steps) + 1):
        btnconfig = K.tombol().btnconfig
        faulty.start(k, fault_for(k))
        with pytest.raises(BaseException) as caught:
            btnconfig(panel, "Go", (1, 2), (3, 4), 4, print)
        assert caught.value is faulty.plan.error
        faulty.plan.fail_at = None
        if k > stored:
            assert vars(btnconfig.__self__)["btn"].label == "GenButton1"
        else:
            assert "btn" not in vars(btnconfig.__self__)


def test_faults_with_collection_at_every_allocation(K, faulty):
    """The collector runs at nearly every allocation, so that an object the module
    still uses but no longer owns, or one it shows the collector without owning it,
    would be freed under it (the sanitizer run turns that into a report)."""
    import gc

    thresholds = gc.get_threshold()
    gc.set_threshold(1, 1, 1)
    try:
        for target in TARGETS:
            _, steps = run_faulted(K, faulty, target, None, None)
            for k in range(1, len(steps) + 1):
                fault = fault_for(k)
                assert run_faulted(K, faulty, target, k, fault)[0] is fault
    finally:
        gc.set_threshold(*thresholds)


def test_targets_cover_every_callable():
    covered = {target.qualname for target in TARGETS} | {t.callee for t in TARGETS if t.callee}
    assert covered == set(CALLABLES)


LOAD = """
import json, sys, traceback
from load_faults import STEPS

class Injected(Exception):
    pass

results = []
for step, line, inject in STEPS:
    error = Injected(step)
    try:
        with inject(error):
            import KestrovaGUI
    except BaseException as caught:
        entries = [[f.name, f.lineno] for f in traceback.extract_tb(caught.__traceback__)
                   if f.filename == "KestrovaGUI"]
        results.append([step, caught is error, entries, "KestrovaGUI" in sys.modules])
    else:
        results.append([step, "loaded"])
import KestrovaGUI
results.append(callable(KestrovaGUI.garis))
print(json.dumps(results), file=sys.stderr)
"""


def test_load_fault_at_every_step():
    """Each body step of the load fails in turn: the caller gets that very exception with
    the entry of the load at the step's line, the module is gone, and a later import
    loads it (writing the empty line once)."""
    process = run_python(LOAD)
    assert process.returncode == 0, process.stderr
    assert process.stdout == "\n"
    results = json.loads(process.stderr.splitlines()[-1])
    assert results == [[step, True, [["init KestrovaGUI", line]], False] for step, line, _ in STEPS] + [True]
