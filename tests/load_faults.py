"""Faults injected into the steps of the module body at load: each import fails with a
given exception, then the read of GenButton, then the empty line. Used in fresh
interpreters only (the fault tests and the leak driver), before the module has loaded.

Each entry: the step, the body line that its traceback entry "init KestrovaGUI" carries,
and a context manager factory taking the exception to raise.
"""

import contextlib
import sys
import types


class Refuse:
    """A finder that fails one import with the given exception."""

    def __init__(self, name, error):
        self.name, self.error = name, error

    def find_spec(self, name, path=None, target=None):
        if name == self.name:
            raise self.error


def failing_import(name):
    @contextlib.contextmanager
    def inject(error):
        saved = sys.modules.pop(name, None)
        finder = Refuse(name, error)
        sys.meta_path.insert(0, finder)
        try:
            yield
        finally:
            sys.meta_path.remove(finder)
            if saved is not None:
                sys.modules[name] = saved
    return inject


@contextlib.contextmanager
def failing_genbutton(error):
    """wx.lib.buttons exists, but reading GenButton from it raises."""
    import wx.lib.buttons

    def read(name):
        raise error

    broken = types.ModuleType("wx.lib.buttons")
    broken.__getattr__ = read
    saved, sys.modules["wx.lib.buttons"] = sys.modules["wx.lib.buttons"], broken
    try:
        yield
    finally:
        sys.modules["wx.lib.buttons"] = saved


@contextlib.contextmanager
def failing_output(error):
    class Output:
        def write(self, text):
            raise error

    saved, sys.stdout = sys.stdout, Output()
    try:
        yield
    finally:
        sys.stdout = saved


# In the order of the body; `import os.path` (line 2) cannot fail once os has loaded.
STEPS = [
    ("import wx", 1, failing_import("wx")),
    ("import os", 1, failing_import("os")),
    ("import wx.lib.buttons", 3, failing_import("wx.lib.buttons")),
    ("GenButton from wx.lib.buttons", 3, failing_genbutton),
    ("import locale", 9, failing_import("locale")),
    ("import pandas", 10, failing_import("pandas")),
    ("the empty line", 65, failing_output),
]
