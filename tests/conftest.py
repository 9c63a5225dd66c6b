"""Shared fixtures: the module under test, the real toolkit, the recording stub toolkit,
and fresh interpreters for everything that concerns loading the module."""

import importlib.util
import os
import pathlib
import re
import subprocess
import sys
import textwrap

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
TESTS = ROOT / "tests"
STUBS = TESTS / "stubs"
# Where the module is taken from: the build directory, unless the tests run against an
# installed copy (KESTROVA_INSTALLED=1).
BUILD = pathlib.Path(os.environ.get("KESTROVA_BUILD", ROOT / "build"))
INSTALLED = os.environ.get("KESTROVA_INSTALLED") == "1"
MODULE_PATH = [] if INSTALLED else [str(BUILD)]

sys.path[:0] = MODULE_PATH + [str(TESTS), str(ROOT / "build-aux")]
os.environ.setdefault("GSETTINGS_BACKEND", "memory")  # no dconf warnings from GTK

INTERPRETER = "Python %d.%d.%d (%s)" % (sys.version_info[:3] + (sys.executable,))


def within(path, directory):
    try:
        path.relative_to(directory)
    except ValueError:
        return False
    return True


def module_origin():
    """The file that `import KestrovaGUI` loads in this process."""
    spec = importlib.util.find_spec("KestrovaGUI")
    return pathlib.Path(spec.origin).resolve() if spec and spec.origin else None


def pytest_configure(config):
    # Neither kind of run may quietly test another copy of the module: a run against the
    # installed module takes it from this interpreter's own site-packages (the virtual
    # environment's, when run from one), never from a build directory; the default run
    # takes it from the build directory, never from an installed copy.
    origin = module_origin()
    if origin is None:
        raise pytest.UsageError("KestrovaGUI cannot be imported (is it built or installed?)")
    if INSTALLED:
        if not (within(origin, pathlib.Path(sys.prefix).resolve())
                and origin.parent.name in ("site-packages", "dist-packages")):
            raise pytest.UsageError("KESTROVA_INSTALLED=1, but KestrovaGUI comes from %s, which is "
                                    "not installed in %s" % (origin, sys.prefix))
    elif origin.parent != BUILD.resolve():
        raise pytest.UsageError("KestrovaGUI comes from %s, not from the build directory %s"
                                % (origin, BUILD))


def pytest_report_header(config):
    found = {name: importlib.util.find_spec(name) for name in ("wx", "pandas")}
    return ["KestrovaGUI: %s, on %s" % (module_origin(), INTERPRETER),
            "toolkit and pandas: " + ", ".join("%s from %s" % (name, spec.origin if spec else "nowhere")
                                               for name, spec in found.items())]


def missing_real_toolkit():
    """Why the real toolkit cannot be used here, or None."""
    try:
        import wx
        from wx.lib.buttons import GenButton  # noqa: F401
    except ImportError as error:
        return "needs the real toolkit (wxPython), which %s lacks (%s)" % (INTERPRETER, error)
    if within(pathlib.Path(wx.__file__).resolve(), STUBS.resolve()):
        return "needs the real toolkit (wxPython); %s has only the stub toolkit" % INTERPRETER
    return None


# Where the real toolkit (or pandas) is missing, the module under test loads in this process
# with the stub toolkit (or the pandas stand-in). Where one is installed but cannot be imported
# by this interpreter, build-aux/interpreters.py has put its stand-in first on PYTHONPATH.
NO_REAL_TOOLKIT = missing_real_toolkit()
sys.path.append(str(STUBS))


def need_real_toolkit():
    if NO_REAL_TOOLKIT:
        pytest.skip(NO_REAL_TOOLKIT)


def run_python(code, *, stubs=True, path=(), args=(), interpreter=sys.executable, timeout=120, env=()):
    """Runs `code` in a fresh interpreter, with the stub toolkit first on the path unless
    `stubs` is false and with the variables `env` set, and returns the completed process."""
    entries = list(path) + ([str(STUBS)] if stubs else []) + MODULE_PATH + [str(TESTS)]
    if os.environ.get("PYTHONPATH"):
        entries.append(os.environ["PYTHONPATH"])
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(entries), **dict(env))
    return subprocess.run([interpreter, *args, "-c", textwrap.dedent(code)], capture_output=True,
                          text=True, env=env, timeout=timeout)


@pytest.fixture(scope="session")
def K():
    import KestrovaGUI

    return KestrovaGUI


@pytest.fixture(scope="session")
def wx_app():
    need_real_toolkit()
    import wx

    app = wx.App(False)
    yield app


@pytest.fixture
def frame(wx_app):
    import wx

    frame = wx.Frame(None, size=(900, 500))
    frame.Show()
    yield frame
    frame.Destroy()
    wx_app.ProcessPendingEvents()


@pytest.fixture
def panel(frame):
    import wx

    return wx.Panel(frame)


def load_stub_toolkit():
    """A fresh copy of the recording toolkit, loaded under another name so that it never
    replaces the real wx of this process."""
    spec = importlib.util.spec_from_file_location("stub_wx", STUBS / "wx" / "__init__.py")
    stub = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(stub)
    return stub


@pytest.fixture
def stub_wx(K, monkeypatch):
    """The recording toolkit, bound as the module's wx and GenButton for one test."""
    stub = load_stub_toolkit()
    monkeypatch.setattr(K, "wx", stub)
    monkeypatch.setattr(K, "GenButton", stub.GenButton)
    return stub


def show(value):
    """Stable text for a logged argument: labels for stub objects, qualified names for
    functions and bound methods."""
    if hasattr(value, "__self__") and hasattr(value, "__func__"):
        return "%s.%s" % (type(value.__self__).__name__, value.__func__.__name__)
    if callable(value) and not isinstance(value, type) and hasattr(value, "__qualname__"):
        return value.__qualname__
    return repr(value)


def calls(stub):
    """The stub's log as lines such as "TextCtrl1.SetFont(Font1)" or
    "StaticText1 = StaticText(Panel1, -1, 'Cap', pos=(15, 28))"."""
    lines = []
    for label, name, args, kwargs in stub.log:
        arguments = ", ".join([show(a) for a in args] + ["%s=%s" % (k, show(v)) for k, v in kwargs.items()])
        if label.rstrip("0123456789") == name:
            lines.append("%s = %s(%s)" % (label, name, arguments))
        else:
            lines.append("%s.%s(%s)" % (label, name, arguments))
    return lines


def module_entries(traceback):
    """(function name, line) of the traceback entries whose file is the module source."""
    import traceback as tb

    return [(frame.name, frame.lineno) for frame in tb.extract_tb(traceback)
            if frame.filename == "KestrovaGUI"]


_variants = {}

# A run of the suite against an instrumented build (see test_sanitizers.py) builds its
# variants with the same instrumentation, into directories of their own.
VARIANT_OPTIONS = os.environ.get("KESTROVA_VARIANT_OPTIONS", "").split()
VARIANT_SUFFIX = os.environ.get("KESTROVA_VARIANT_SUFFIX", "")
# A run of the suite against a build without fast paths (KESTROVA_PORTABLE=1) builds every
# variant without them too.
PORTABLE = os.environ.get("KESTROVA_PORTABLE") == "1"


@pytest.fixture(scope="session")
def build_variant():
    """Builds the module with extra Meson options into its own directory (once per
    session) and returns that directory. A `plain` variant never takes the options of an
    instrumented run."""

    def build(name, *options, plain=False, python=sys.executable):
        import meson_setup

        extra = ([] if plain else VARIANT_OPTIONS) + (["-Dfast_paths=false"] if PORTABLE else [])
        name += ("" if plain else VARIANT_SUFFIX) + ("-portable" if PORTABLE else "")
        if name not in _variants:
            # One set of variants per interpreter.
            directory = ROOT / "build-variants" / ("%d.%d.%d" % sys.version_info[:3]) / name
            done = meson_setup.setup(str(directory), str(ROOT), python, ["-Dwerror=true", *extra, *options])
            assert done is None or done.returncode == 0, done.stdout[-3000:] + done.stderr[-3000:]
            done = subprocess.run(["ninja", "-j2", "-C", str(directory)], capture_output=True, text=True)
            assert done.returncode == 0, done.stdout[-3000:] + done.stderr[-3000:]
            _variants[name] = directory
        return _variants[name]

    return build


@pytest.fixture(scope="session", params=["real", "flat"])
def native_wx(request):
    """stubwx: the near-zero-cost native stand-in for the toolkit that the benchmarks use,
    built (once per session) with its own Meson project, in each of its two shapes: the real
    toolkit's (widgets are native wrappers whose instances can carry an attribute dictionary,
    and GenButton is a class written as Python writes one, over such a native base), and a
    flat one of dictionary-less native types. Lookups take different paths on each."""
    sys.path.insert(0, str(ROOT / "benchmarks"))
    import run

    directory = run.build_stub_toolkit()
    if directory not in sys.path:
        sys.path.insert(0, directory)
    return importlib.import_module(run.STUB_SHAPES[request.param])


@pytest.fixture
def bind_native_wx(K, native_wx, monkeypatch):
    """stubwx bound as the module's wx and GenButton for one test."""
    monkeypatch.setattr(K, "wx", native_wx)
    monkeypatch.setattr(K, "GenButton", native_wx.GenButton)
    return native_wx


def line_map():
    """docs/lines.md as {traceback name: {line: statement}}: a line belongs to the innermost
    `def` around it (to the load outside any), a `def` line also to the function itself."""
    functions, scopes = {}, []
    for line, indent, statement in re.findall(r"^ *(\d+)  ( *)(.*)$", (ROOT / "docs" / "lines.md").read_text(), re.M):
        while scopes and scopes[-1][0] >= len(indent):
            scopes.pop()
        owners = [i for i, (_, kind, _) in enumerate(scopes) if kind == "def"]
        defined = re.match(r"(def|class) (\w+)", statement)
        if defined:
            scopes.append((len(indent), defined[1], defined[2]))
        for end in owners[-1:] + [len(scopes) - 1] * (defined is not None and defined[1] == "def"):
            name = ".".join(["KestrovaGUI"] + [n for _, _, n in scopes[: end + 1]])
            functions.setdefault(name, {})[int(line)] = statement
        if not owners:
            functions.setdefault("init KestrovaGUI", {})[int(line)] = statement
    return functions


LINES = line_map()


def listed_line(function, statement, nth=None):
    """The one line of `function` in docs/lines.md whose statement contains `statement` (or,
    where several do, the nth of them)."""
    lines = sorted(line for line, text in LINES[function].items() if statement in text)
    if nth is None:
        (line,) = lines
        return line
    return lines[nth]

