"""The benchmarks: their plain-Python peer must make exactly the toolkit calls that the
module makes, and the runner must keep working (run once in its quick mode; nothing here
looks at a time)."""

import contextlib
import inspect
import io
import json
import os
import subprocess
import sys
import types

import pytest
from conftest import BUILD, INSTALLED, NO_REAL_TOOLKIT, ROOT, calls, load_stub_toolkit

sys.path.insert(0, str(ROOT / "benchmarks"))
import rows  # noqa: E402


class RecordingToolkit:
    """The toolkit interface of the benchmark rows, on the recording stand-in."""

    def __init__(self):
        self.stub = stub = load_stub_toolkit()
        self.wx, self.GenButton = stub, stub.GenButton
        self.frame, self.panel = stub.Frame(), stub.Panel()

        class Shell:
            def SetCurrentProcessExplicitAppUserModelID(self, app_id):
                stub.log.append(("shell32", "SetCurrentProcessExplicitAppUserModelID", (app_id,), {}))

        self.windll = types.SimpleNamespace(shell32=Shell())

    def press_handler(self, impl, make):
        make()
        return [args[1] for _, name, args, _ in self.stub.log if name == "Bind" and args[0] == "EVT_BUTTON"][-1]


@pytest.fixture(scope="module")
def plain():
    import plain

    return plain


def toolkit_calls(row, impl, monkeypatch):
    """The toolkit calls of one call of the row, and what it printed."""
    toolkit = RecordingToolkit()
    monkeypatch.setattr(impl, "wx", toolkit.wx)
    monkeypatch.setattr(impl, "GenButton", toolkit.GenButton)
    printed = io.StringIO()
    with row.context(toolkit):
        names = row.prepare(impl, toolkit)
        del toolkit.stub.log[:]
        with contextlib.redirect_stdout(printed):
            rows.call_once(row, names)
    return calls(toolkit.stub), printed.getvalue()


@pytest.mark.parametrize("row", rows.ROWS, ids=[row.name for row in rows.ROWS])
def test_plain_peer_makes_the_same_toolkit_calls(K, plain, monkeypatch, row):
    expected = toolkit_calls(row, K, monkeypatch)
    assert expected[0] or expected[1]  # every row calls the toolkit or prints
    assert toolkit_calls(row, plain, monkeypatch) == expected


def public_api(impl):
    """{name: signature} of the classes, their methods and the functions that `impl` defines."""
    api = {}
    for name, value in vars(impl).items():
        if getattr(value, "__module__", None) != impl.__name__ or not callable(value):
            continue
        if isinstance(value, type):
            api[name] = [(method, str(inspect.signature(function))) for method, function in vars(value).items()
                         if callable(function)]
        else:
            api[name] = str(inspect.signature(value))
    return api


def test_peer_and_rows_cover_every_public_name(K, plain):
    """What a new form, colour scheme or function of the module needs beside its row in the
    sources: its peer here, with the same signatures, and its benchmark rows."""
    api = public_api(K)
    assert public_api(plain) == api
    assert list(rows.FORMS) == [name for name, methods in api.items()
                                     if isinstance(methods, list) and methods[0][0] == "__init__"]
    schemes = [int(method[len("OnMouseEnter"):]) for method, _ in api["tombol"] if method.startswith("OnMouseEnter")]
    assert sorted(schemes) == rows.SCHEMES


def test_panel_of_rows_is_the_same(K, plain, monkeypatch):
    built = []
    for impl in (K, plain):
        toolkit = RecordingToolkit()
        monkeypatch.setattr(impl, "wx", toolkit.wx)
        monkeypatch.setattr(impl, "GenButton", toolkit.GenButton)
        rows.build_panel(impl, toolkit.panel, 22)
        built.append(calls(toolkit.stub))
    assert len([line for line in built[0] if " = " in line]) > 22 * 2
    assert built[1] == built[0]


def test_runner_quick_mode(tmp_path):
    """One quick run of every section (under the test's display, the real toolkit too)."""
    output = tmp_path / "results.json"
    # The copy of the module that the suite tests: the installed one, or the build's.
    build = "" if INSTALLED else str(BUILD)
    done = subprocess.run([sys.executable, str(ROOT / "benchmarks" / "run.py"), "--quick",
                           "--json", str(output), "--build", build],
                          capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stderr
    results = json.loads(output.read_text())
    names = [row.name for row in rows.ROWS]
    assert [row["name"] for row in results["stub"]["rows"]] == names
    for row in results["stub"]["rows"]:
        assert row["toolkit_calls"]["module"] == row["toolkit_calls"]["plain"], row["name"]
        assert row["ratio_range"][0] <= row["ratio"] <= row["ratio_range"][1]  # a median of the ratios
    if os.environ.get("DISPLAY") and not NO_REAL_TOOLKIT:
        assert [row["name"] for row in results["real"]["rows"]] == names + ["panel of 100 rows"]
    else:
        assert "real" not in results and results["real_skipped"]
    for impl in ("module", "plain"):  # each import's own line of -X importtime, once per run
        assert len(results["import"][impl + "_self_samples_us"]) == results["import"]["runs"] == 1
    assert [row["name"] for row in results["first_calls"]["module"]] == names
    for impl in ("module", "plain"):
        assert len(results["memory"][impl]["samples"]) == 11
    assert "median ratio" in done.stdout
