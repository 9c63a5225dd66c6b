"""A toolkit that fails on request, to inject a fault into every step of every call.

It wraps a private copy of the recording stub toolkit (tests/stubs/wx). Each operation
that the module performs on the toolkit, on the console or on the numbers and texts it is
given counts as one step: reading a name of the package, constructing an object, looking
up a method and calling it, writing to standard output, and the arithmetic and
comparisons on the arguments. The plan counts the steps of a call and raises its
exception at the chosen one, before the operation takes effect.

Targets are the calls under test: every initialiser, every inner file-dialog handler,
every tombol method (btnconfig once per colour scheme), showImage, icon and garis.
Both the fault tests (in-process) and the leak driver (under the debug interpreter) use
them, so this module must import without the module under test or any real toolkit.
"""

import importlib.util
import pathlib
import sys
import types

STUBS = pathlib.Path(__file__).resolve().parent / "stubs"


class Injected(Exception):
    """The fault a plan raises."""


class InjectedBase(BaseException):
    """A fault that is not an Exception, which nothing may mistake for one."""


class Plan:
    """Counts steps and raises `error` at step number `fail_at` (counted from 1)."""

    def __init__(self, log):
        self._log = log
        self.start()

    def start(self, fail_at=None, error=None):
        self.fail_at, self.error = fail_at, error
        self.steps = []  # (what, length of the toolkit's log before the step)

    def step(self, what):
        self.steps.append((what, len(self._log)))
        if len(self.steps) == self.fail_at:
            raise self.error


class Toolkit:
    """The instrumented toolkit: `wx`, `GenButton`, `ctypes` (with a windll, so that
    `icon` makes its shell call) and `stdout`, all counting steps in `plan`."""

    def __init__(self):
        spec = importlib.util.spec_from_file_location("faulty_wx_stub", STUBS / "wx" / "__init__.py")
        stub = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(stub)
        self.stub = stub
        self.plan = plan = Plan(stub.log)
        self._instrument(stub, plan)
        self._instrumented = {}

        # Every name is read through __getattr__, so each read is a step.
        self.wx = types.ModuleType("wx")

        def read_toolkit_name(name):
            plan.step("wx." + name)
            return getattr(stub, name)

        self.wx.__getattr__ = read_toolkit_name
        self.GenButton = stub.GenButton

        class Library:
            """windll, and shell32 in it, whose function is a step to look up and to call."""

            def __init__(self, name):
                self._name = name

            def __getattr__(self, name):
                plan.step("%s.%s" % (self._name, name))
                if name == "shell32":
                    return Library("shell32")
                return self._call

            def _call(self, *args):
                plan.step("SetCurrentProcessExplicitAppUserModelID()")

        self.ctypes = types.ModuleType("ctypes")

        def read_ctypes_name(name):
            plan.step("ctypes." + name)
            if name == "windll":
                return Library("windll")
            raise AttributeError(name)

        self.ctypes.__getattr__ = read_ctypes_name

        class Output:
            def write(self, text):
                plan.step("stdout.write(%r)" % text)
                return len(text)

        self.stdout = Output()

        class Number(int):
            """An integer argument whose comparisons and arithmetic are steps."""

            __hash__ = int.__hash__
            __repr__ = int.__repr__

            def __eq__(self, other):
                plan.step("%r == %r" % (self, other))
                return int.__eq__(self, other)

            def __add__(self, other):
                plan.step("%r + %r" % (self, other))
                return int.__add__(self, other)

            def __radd__(self, other):
                plan.step("%r + %r" % (other, self))
                return int.__radd__(self, other)

            def __sub__(self, other):
                plan.step("%r - %r" % (self, other))
                return int.__sub__(self, other)

        class Text(str):
            """A text argument whose comparisons are steps."""

            __hash__ = str.__hash__
            __repr__ = str.__repr__

            def __eq__(self, other):
                plan.step("%r == %r" % (self, other))
                return str.__eq__(self, other)

        self.Number, self.Text = Number, Text

    @staticmethod
    def _instrument(stub, plan):
        original_init = stub.Stub.__init__

        def construct(self, *args, **kwargs):
            plan.step(type(self).__name__ + "()")
            original_init(self, *args, **kwargs)

        def lookup(self, name):
            # Methods of the toolkit are capitalised; the stub's own fields are not.
            if name[:1].isupper():
                plan.step("%s.%s" % (object.__getattribute__(self, "label"), name))
            return object.__getattribute__(self, name)

        def counted(name, method):
            def call(self, *args, **kwargs):
                plan.step("%s.%s()" % (self.label, name))
                return method(self, *args, **kwargs)

            call.__name__ = name
            return call

        stub.Stub.__init__ = construct
        stub.Stub.__getattribute__ = lookup
        for cls in vars(stub).values():
            if isinstance(cls, type) and issubclass(cls, stub.Stub):
                for name, value in list(vars(cls).items()):
                    if name[:1].isupper() and callable(value):
                        setattr(cls, name, counted(name, value))

    def start(self, fail_at=None, error=None):
        """Clears the log and the counters and arms the plan."""
        self.stub.reset()
        self.plan.start(fail_at, error)

    def instrumented(self, cls):
        """A subclass of one of the module's classes whose objects count the reads and
        writes of their attributes (entryOpenFile, btn, their methods) as steps."""
        if cls not in self._instrumented:
            plan = self.plan

            class Instrumented(cls):
                def __getattribute__(self, name):
                    if not name.startswith("__"):
                        plan.step("%s.%s" % (cls.__name__, name))
                    return object.__getattribute__(self, name)

                def __setattr__(self, name, value):
                    plan.step("%s.%s = ..." % (cls.__name__, name))
                    object.__setattr__(self, name, value)

            Instrumented.__name__ = Instrumented.__qualname__ = cls.__name__
            self._instrumented[cls] = Instrumented
        return self._instrumented[cls]

    def bind(self, K):
        """Makes the module use this toolkit, and the forms make instrumented tombol
        objects; returns a function that undoes it."""
        saved = {name: vars(K)[name] for name in ("wx", "GenButton", "tombol")}
        K.wx, K.GenButton, K.tombol = self.wx, self.GenButton, self.instrumented(saved["tombol"])

        def restore():
            for name, value in saved.items():
                setattr(K, name, value)

        return restore


class Target:
    """One call under test. `prepare(K, toolkit)` sets the scene with the plan disarmed and
    returns the call itself. `callee` is the qualified name of the function that the call
    reaches from the step named `callee_from` on (tombol.btnconfig for the forms)."""

    def __init__(self, name, qualname, prepare, callee=None, callee_from=None):
        self.name, self.qualname, self.prepare = name, qualname, prepare
        self.callee, self.callee_from = callee, callee_from

    def owner(self, what, earlier):
        """The function running at step `what`, given the steps before it."""
        if self.callee and any(step.startswith(self.callee_from) for step in earlier + [what]):
            return self.callee
        return self.qualname

    def __repr__(self):
        return self.name


def _with(module_name, replacement, call):
    """Runs `call` with sys.modules[module_name] replaced (for the module's own import)."""
    def run():
        saved = sys.modules.get(module_name)
        sys.modules[module_name] = replacement
        try:
            return call()
        finally:
            if saved is None:
                del sys.modules[module_name]
            else:
                sys.modules[module_name] = saved
    return run


def _with_stdout(stream, call):
    def run():
        saved, sys.stdout = sys.stdout, stream
        try:
            return call()
        finally:
            sys.stdout = saved
    return run


def _form_arguments(tk, name, parameters, status):
    values = {"FileDialogStatus": tk.Text(status), "Info": "Cap", "LebarForm": tk.Number(200),
              "PosLeft": tk.Number(300), "PosTinggi": tk.Number(50), "TargetPanel": tk.stub.Panel()}
    return [values[p] for p in parameters[1:]]


def _form(name, parameters):
    def prepare(K, tk):
        arguments = _form_arguments(tk, name, parameters, "OpenFile")
        form_class = tk.instrumented(getattr(K, name))
        return lambda: form_class(*arguments)
    return prepare


def _handler(name, parameters, status, confirmed):
    def prepare(K, tk):
        tk.start()
        tk.instrumented(getattr(K, name))(*_form_arguments(tk, name, parameters, status))
        (handler,) = [args[1] for _, method, args, _ in tk.stub.log if method == "Bind" and args[0] == "EVT_BUTTON"]
        tk.stub.FileDialog.modal_result = tk.stub.ID_OK if confirmed else tk.stub.ID_CANCEL
        return lambda: handler("press event")
    return prepare


def _btnconfig(btntype):
    def prepare(K, tk):
        button = K.tombol()
        panel = tk.stub.Panel()
        kind = tk.Number(btntype)
        btnconfig = button.btnconfig  # looked up here, so that every step is the module's
        return lambda: btnconfig(panel, "Go", (1, 2), (3, 4), kind, print)
    return prepare


def _hover(handler):
    def prepare(K, tk):
        button = K.tombol()
        button.btnconfig(tk.stub.Panel(), "Go", (1, 2), (3, 4), 0, print)
        method = getattr(button, handler)
        return lambda: method(None)
    return prepare


def _show_image(K, tk):
    panel = tk.stub.Panel()
    return lambda: K.showImage("pic.png", panel, (3, 4))


def _icon(tipe):
    def prepare(K, tk):
        frame = tk.stub.Frame()
        kind = tk.Number(tipe)
        return _with("ctypes", tk.ctypes, lambda: K.icon(frame, kind))
    return prepare


def _garis(K, tk):
    return _with_stdout(tk.stdout, K.garis)


def targets():
    from public_api import CLASSES, HOVER_HANDLERS

    found = []
    for name, (_, parameters, handler_line) in CLASSES.items():
        if parameters is None:
            continue
        found.append(Target(name + ".__init__", name + ".__init__", _form(name, parameters),
                            "tombol.btnconfig", "GenButton()"))
        if handler_line is not None:
            qualname = name + ".__init__.<locals>.filedialog"
            for status, confirmed in [("OpenFile", True), ("SaveFile", True), ("OpenFile", False)]:
                label = "%s.filedialog %s %s" % (name, status, "confirmed" if confirmed else "cancelled")
                found.append(Target(label, qualname, _handler(name, parameters, status, confirmed)))
    for btntype in range(7):
        found.append(Target("tombol.btnconfig btntype=%d" % btntype, "tombol.btnconfig", _btnconfig(btntype)))
    for handler in HOVER_HANDLERS:
        found.append(Target("tombol." + handler, "tombol." + handler, _hover(handler)))
    found.append(Target("showImage", "showImage", _show_image))
    for tipe in (1, 2, 0):
        found.append(Target("icon tipe=%d" % tipe, "icon", _icon(tipe)))
    found.append(Target("garis", "garis", _garis))
    return found


def run_faulted(K, tk, target, fail_at, error):
    """Prepares `target` and runs it with the plan armed; returns the exception that
    reached the caller (or None) and the steps counted."""
    tk.start()
    call = target.prepare(K, tk)
    tk.start(fail_at, error)
    try:
        call()
    except BaseException as caught:  # the injected faults include a BaseException
        return caught, tk.plan.steps
    finally:
        tk.plan.fail_at = tk.plan.error = None  # disarmed until the next run
    return None, tk.plan.steps


def fault_for(step):
    """A fresh exception for step `step`: alternately an Exception and a BaseException."""
    return (Injected if step % 2 else InjectedBase)("fault at step %d" % step)
