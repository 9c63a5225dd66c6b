"""What a type checker makes of the module: the stub files an installation holds, and
mypy's verdict on correct and faulty application code."""

import os
import pathlib
import re
import subprocess
import sys

import pytest
from conftest import INSTALLED, INTERPRETER, ROOT

SOURCE_STUB = ROOT / "src" / "KestrovaGUI.pyi"

# Application code, one call per line; a trailing "# error[<code>]: <text>" names the
# complaint that mypy must raise for that line, by its error code and by the words of it that
# every mypy version says, in order (" … " stands between them where versions word the rest
# differently), and every other line must pass.
APPLICATION = '''
import KestrovaGUI as K

panel = object()
K.FormA("OpenFile", "Input", 300, 50, panel).entryOpenFile.GetValue()
K.FormFolderTIF(FileDialogStatus="SaveFile", Info="Out", LebarForm=300, PosLeft=15, PosTinggi=50, TargetPanel=panel)
K.FormText("Band", 80, 15, 110, panel)
K.FormB2(Info="Note", LebarForm=80, PosTinggi=110, TargetPanel=panel)
K.showImage("logo.png", panel, (15, 12))
button = K.tombol()
button.btnconfig(panel, "Run", (15, 150), (100, 30), 4, lambda event: print(event))
button.btnconfig(panel, "Plain", (15, 190), (100, 30), None, print)
button.OnMouseEnter3(None)
K.icon(panel, 2)
K.garis()
K.__test__.clear()
K.FormA("Openfile", "Input", 300, 50, panel)  # error[arg-type]: Argument 1 to "FormA" has incompatible type "Literal['Openfile']"
K.FormB("Band", "80", 110, panel)  # error[arg-type]: Argument 2 to "FormB" has incompatible type "str"; expected "int"
K.FormFolderCSV("OpenFile", "Table", 300, 50, panel)  # error[call-arg]: Missing positional argument … in call to "FormFolderCSV"
K.showImage(urlfileimage="a.png", parent=panel, position=(0, 0))  # error[call-arg]: Unexpected keyword argument "position" for "showImage"
button.btnconfig(panel, "Run", (15, 150), (100, 30), 4)  # error[call-arg]: Missing positional argument "target" in call to "btnconfig" of "tombol"
K.tombol(panel)  # error[call-arg]: Too many arguments for "tombol"
K.garis(1)  # error[call-arg]: Too many arguments for "garis"
K.wx.Frame  # error[attr-defined]: Module has no attribute "wx"
'''


def test_installed_stubs_are_the_source_stub(K):
    if not INSTALLED:
        pytest.skip("needs the installed module (KESTROVA_INSTALLED=1)")
    site = pathlib.Path(K.__file__).parent
    source = SOURCE_STUB.read_text()
    # Beside the module for editors; as a stub-only package for mypy.
    assert (site / "KestrovaGUI.pyi").read_text() == source
    assert (site / "KestrovaGUI-stubs" / "__init__.pyi").read_text() == source


def mypy_failure(tmp_path):
    """Why mypy cannot check code on this interpreter, or None: it must be importable and pass
    a correct line (Debian builds its compiled parts for its default interpreter only)."""
    try:
        import mypy  # noqa: F401
    except ImportError:
        return "needs mypy, which %s lacks" % INTERPRETER
    done = subprocess.run([sys.executable, "-m", "mypy", "--show-traceback", "--no-error-summary", "--cache-dir",
                           str(tmp_path / "probe-cache"), "-c", "number: int = 1"], capture_output=True, text=True)
    if done.returncode != 0:
        lines = (done.stdout + done.stderr).strip().splitlines() or ["?"]
        return "needs mypy, which does not run on %s (%s)" % (INTERPRETER, lines[-1])
    return None


def test_mypy_checks_application_code(tmp_path):
    reason = mypy_failure(tmp_path)
    if reason:
        pytest.skip(reason)
    script = tmp_path / "application.py"
    script.write_text(APPLICATION)
    command = [sys.executable, "-m", "mypy", "--no-error-summary", "--show-error-codes", "--cache-dir",
               str(tmp_path / "cache"), "--python-executable", sys.executable, str(script)]
    env = dict(os.environ)
    if not INSTALLED:
        # The build directory has no stub package; point mypy at the source stub instead.
        env["MYPYPATH"] = str(SOURCE_STUB.parent)
    result = subprocess.run(command, capture_output=True, text=True, cwd=tmp_path, env=env)
    assert not result.stderr
    found = {}
    for line in result.stdout.splitlines():
        if ": note: " in line:
            continue
        match = re.match(r".*application\.py:(\d+): error: (.*?)  \[([a-z-]+)\]$", line)
        assert match, line
        found.setdefault(int(match.group(1)), []).append((match.group(3), match.group(2)))
    expected = {}
    for number, text in enumerate(APPLICATION.splitlines(), 1):
        if "# error[" in text:
            code, words = re.fullmatch(r".*# error\[([a-z-]+)\]: (.*)", text).groups()
            expected[number] = code, re.compile(".*".join(re.escape(part) for part in words.split(" … ")))
    assert sorted(found) == sorted(expected), result.stdout
    for number, (code, words) in expected.items():
        assert any(found_code == code and words.search(message) for found_code, message in found[number]), (
            number, found[number])
