"""Loading the module, each case in a fresh interpreter: one load per process, its one
empty line, its guards and its failures."""

import sys

import pytest
from conftest import need_real_toolkit, run_python

ORDER = ["__name__", "__doc__", "__package__", "__loader__", "__spec__", "__file__", "__builtins__",
         "wx", "os", "GenButton", "locale", "pandas", "FormA", "FormFolderTIF", "FormFolderProjection",
         "FormFolderCSV", "FormText", "FormA2", "FormC", "FormB", "FormB2", "showImage", "tombol",
         "icon", "garis", "__test__"]

# Reports what the test needs on stderr: stdout must hold only what the module writes.
REPORT = "import sys\ndef report(*values): print(*values, file=sys.stderr)\n"

TRACE = REPORT + """
import traceback
def entries(error):
    return [(f.name, f.lineno) for f in traceback.extract_tb(error.__traceback__) if f.filename == "KestrovaGUI"]
"""


def check(process, stdout="\n"):
    assert process.returncode == 0, process.stderr
    assert process.stdout == stdout
    return process.stderr.splitlines()


def test_load_leaves_no_classes_of_its_own_behind():
    # Only the public classes and the type of the module's functions: nothing else that
    # the load makes for itself stays among object's subclasses, even before a collection.
    lines = check(run_python(REPORT + """
import gc, os, os.path, locale, wx, wx.lib.buttons, pandas
gc.disable()
before = set(object.__subclasses__())
import KestrovaGUI as K
public = {K.FormA, K.FormFolderTIF, K.FormFolderProjection, K.FormFolderCSV, K.FormText, K.FormA2,
          K.FormC, K.FormB, K.FormB2, K.tombol, type(K.garis)}
report(sorted(c.__qualname__ for c in set(object.__subclasses__()) - before - public))
"""))
    assert lines == ["[]"]


@pytest.mark.parametrize("stubs, imports", [(True, "eager"), (False, "eager"), (True, "lazy_imports=all")],
                         ids=["stub toolkit", "real toolkit", "all imports lazy"])
def test_loads_once_with_one_empty_line(stubs, imports):
    if not stubs:
        need_real_toolkit()
    if imports != "eager" and sys.version_info < (3, 15):
        pytest.skip("explicit lazy imports are new in Python 3.15")
    # The load's own imports are made as it runs, even where the interpreter makes a module's
    # import statements lazy.
    options = [] if imports == "eager" else ["-X", imports]
    lines = check(run_python(REPORT + """
import builtins, importlib
import KestrovaGUI as K
first = K.FormA
K.added_by_application = 1
del sys.modules["KestrovaGUI"]
import KestrovaGUI as again
assert again is K and again.FormA is first and again.added_by_application == 1
assert importlib.reload(K) is K and K.FormA is first and K.added_by_application == 1
assert K.__doc__ is None and K.__test__ == {} and not hasattr(K, "__all__")
assert K.__builtins__ is builtins and K.wx is sys.modules["wx"] and K.os is sys.modules["os"]
assert K.GenButton is sys.modules["wx.lib.buttons"].__dict__["GenButton"] and K.pandas is sys.modules["pandas"]
star = {}
exec("from KestrovaGUI import *", star)
assert {"wx", "os", "GenButton", "locale", "pandas", "garis"} <= set(star) and "__test__" not in star
report(",".join(name for name in vars(K) if name != "added_by_application"))
""", stubs=stubs, args=["-W", "error::RuntimeWarning", *options]))
    assert lines[-1].split(",") == ORDER


def test_fresh_interpreters_load_the_module_under_test(K):
    # The same file as this process: the build directory, or the installed copy.
    lines = check(run_python(REPORT + "import KestrovaGUI\nreport(KestrovaGUI.__file__)\n"))
    assert lines == [K.__file__]


# Runs code in a sub-interpreter that shares the main one's GIL, as every version can make
# one (from 3.12 on, an isolated one refuses a module that does not declare that it supports
# one before the module can run at all).
SUB_INTERPRETER = """
def in_sub_interpreter(code):
    try:
        import _testcapi
        return _testcapi.run_in_subinterp(code)
    except (ImportError, AttributeError):
        pass
    try:
        import _interpreters
        sub = _interpreters.create("legacy")
        return _interpreters.run_string(sub, code)
    except ImportError:
        import _xxsubinterpreters as interpreters
    sub = interpreters.create(isolated=False) if sys.version_info >= (3, 12) else interpreters.create()
    return interpreters.run_string(sub, code)
"""


def test_sub_interpreter_is_refused():
    lines = check(run_python(REPORT + SUB_INTERPRETER + r"""
import KestrovaGUI
in_sub_interpreter('''
import sys
try:
    import KestrovaGUI
except ImportError as error:
    sys.stderr.write("%s: %s\\n" % (type(error).__name__, error))
''')
KestrovaGUI.garis()
"""), stdout="\n" + "-" * 63 + "\n\n")
    assert lines == ["ImportError: Interpreter change detected - this module can only be loaded into one "
                     "interpreter per process."]


def test_second_module_object_is_refused():
    lines = check(run_python(REPORT + """
import _imp, importlib.util
spec = importlib.util.find_spec("KestrovaGUI")
first, second = _imp.create_dynamic(spec), _imp.create_dynamic(spec)
assert first is not second
_imp.exec_dynamic(first)
try:
    _imp.exec_dynamic(second)
except RuntimeError as error:
    report(error)
assert _imp.create_dynamic(spec) is first and not hasattr(second, "FormA")
"""))
    assert lines == ["Module 'KestrovaGUI' has already been imported. Re-initialisation is not supported."]


FAILURES = {
    "missing pandas": ("""
class NoPandas:
    def find_spec(self, name, path=None, target=None):
        if name == "pandas":
            raise ModuleNotFoundError("No module named 'pandas'", name="pandas")
sys.meta_path.insert(0, NoPandas())
""", "sys.meta_path.pop(0)", "ModuleNotFoundError: No module named 'pandas'", 10),
    "failing print": ("""
class Broken:
    def write(self, text):
        raise OSError("stdout closed")
real_stdout, sys.stdout = sys.stdout, Broken()
""", "sys.stdout = real_stdout", "OSError: stdout closed", 65),
    "missing GenButton": ("""
import wx.lib.buttons
saved = wx.lib.buttons.GenButton
del wx.lib.buttons.GenButton
""", "wx.lib.buttons.GenButton = saved", "ImportError: cannot import name GenButton", 3),
}


@pytest.mark.parametrize("case", sorted(FAILURES))
def test_failed_load_leaves_nothing_and_recovers(case):
    break_it, mend_it, error, line = FAILURES[case]
    lines = check(run_python(TRACE + break_it + """
try:
    import KestrovaGUI
except Exception as failure:
    report("%s: %s" % (type(failure).__name__, failure))
    report(entries(failure)[-1], "KestrovaGUI" in sys.modules)
""" + mend_it + """
import KestrovaGUI
KestrovaGUI.FormA
report("loaded")
"""))
    assert lines == [error, "('init KestrovaGUI', %d) False" % line, "loaded"]


def test_version_mismatch_warns_once(build_variant):
    variant = build_variant("version-3.1", "-Dcompile_version=3.1")
    message = "compiletime version 3.1 of module 'KestrovaGUI' does not match runtime version %d.%d" % sys.version_info[:2]
    lines = check(run_python(TRACE + """
import warnings
with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter("always")
    import KestrovaGUI
for warning in caught:
    report(warning.category.__name__, warning.message)
""", path=[str(variant)]))
    assert lines == ["RuntimeWarning " + message]

    lines = check(run_python(TRACE + """
try:
    import KestrovaGUI
except RuntimeWarning as failure:
    report(type(failure).__name__, failure, entries(failure), "KestrovaGUI" in sys.modules)
import warnings
warnings.simplefilter("ignore")
import KestrovaGUI
report("loaded")
""", path=[str(variant)], args=["-W", "error::RuntimeWarning"]))
    assert lines == ["RuntimeWarning %s [] False" % message, "loaded"]
