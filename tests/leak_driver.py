"""Runs every callable of the module thousands of times, with the stub toolkit, and measures
whether the interpreter's number of allocated memory blocks, and under a debug interpreter
its total reference count, come back to where they were.

    python3-dbg leak_driver.py RESULTS.json ITERATIONS

The stub toolkit (tests/stubs) and a build of the module for the interpreter that runs the
driver must come first on the path. Each scenario is a callable of the module and a list of cases
(description, call, expected exception or None). A scenario runs all its cases once to
check that each ends as expected, warms up, then runs them ITERATIONS times between two
measurements (the failed loads half as often, the injected faults a twentieth). A
scenario that does not come back is measured case by case, so that the report names the
case that leaks. The results go to RESULTS.json as a list of records.
"""

import builtins
import gc
import importlib
import importlib.util
import io
import json
import sys
import types

from public_api import CALLABLES, CLASSES, FILE_FORMS, FORMS, HOVER_HANDLERS

LEAK_LIMIT = 20  # references or blocks a scenario may gain (warm-up of caches)


def leaked(gain, iterations):
    """Whether a gain over `iterations` runs is a leak: a leak keeps at least one object per
    run, while the interpreter's own tables grow now and then by a few blocks whatever runs."""
    return gain > max(LEAK_LIMIT, iterations // 20)

results = []


# Only a debug build counts references; every build counts allocated blocks.
DEBUG = hasattr(sys, "gettotalrefcount")


def snapshot():
    gc.collect()
    gc.collect()
    return sys.gettotalrefcount() if DEBUG else 0, sys.getallocatedblocks()


def run_cases(cases):
    for _, call, _ in cases:
        try:
            call()
        except BaseException:
            pass


def window(cases, iterations):
    refs, blocks = snapshot()
    for _ in range(iterations):
        run_cases(cases)
    after_refs, after_blocks = snapshot()
    return after_refs - refs, after_blocks - blocks


def gained(cases, iterations):
    """What `iterations` runs of `cases` keep. The interpreter's caches and tables may
    still grow now and then after the warm-up, by a few blocks at a time; a leak grows by
    at least one object per run in every window. So a window over the limit is measured
    again, up to three times."""
    for _ in range(max(3, iterations // 20)):
        run_cases(cases)
    for _ in range(3):
        kept = window(cases, iterations)
        if not leaked(max(kept), iterations):
            break
    return kept


def outcome(call):
    try:
        call()
    except BaseException as error:  # noqa: B036 - the faults include BaseExceptions
        return type(error)
    return None


def scenario(callable_name, description, cases, iterations):
    """Measures `cases` together; if they leak, measures each one alone."""
    wrong = []
    for text, call, expected in cases:
        got = outcome(call)
        if got is not expected and not (expected and got and issubclass(got, expected)):
            wrong.append("%s: expected %s, got %s" % (text, getattr(expected, "__name__", expected),
                                                      getattr(got, "__name__", got)))
    refs, blocks = gained(cases, iterations)
    leaking = []
    if len(cases) > 1 and leaked(max(refs, blocks), iterations):
        for case in cases:
            case_iterations = max(50, iterations // 4)
            case_refs, case_blocks = gained([case], case_iterations)
            if leaked(max(case_refs, case_blocks), case_iterations):
                leaking.append("%s (%+d references, %+d blocks)" % (case[0], case_refs, case_blocks))
    results.append({"callable": callable_name, "scenario": description, "cases": len(cases),
                    "iterations": iterations, "refs": refs, "blocks": blocks, "debug": DEBUG,
                    "wrong_outcomes": wrong, "leaking_cases": leaking})


# ---------------------------------------------------------------------------------------
# The load, before the module is in the process


class Broken:
    def write(self, text):
        raise OSError("stdout is closed")


def drive_loads(iterations):
    from load_faults import STEPS

    for step, _, inject in STEPS:
        def attempt(inject=inject, step=step):
            with inject(ImportError(step)):
                import KestrovaGUI  # noqa: F401

        scenario("load", "failed load: " + step, [("import", attempt, ImportError)], iterations)
        assert "KestrovaGUI" not in sys.modules

    # Module objects made before the load, which may never run the body afterwards: each
    # refuses once (a refused one counts as executed), so every run takes a fresh one.
    import _imp
    spec = importlib.util.find_spec("KestrovaGUI")
    others = [_imp.create_dynamic(spec) for _ in range(4 * iterations)]

    import KestrovaGUI as K  # the recovered load

    def import_again():
        del sys.modules["KestrovaGUI"]
        import KestrovaGUI as again
        assert again is K

    scenario("load", "loaded module imported again", [
        ("import after removal from sys.modules", import_again, None),
        ("reload", lambda: importlib.reload(K), None),
    ], iterations)
    scenario("load", "another module object executed after the load",
             [("execute step", lambda: _imp.exec_dynamic(others.pop()), RuntimeError)], iterations)
    return K


# ---------------------------------------------------------------------------------------
# Calls


class Sink:
    def write(self, text):
        return len(text)


def argument_errors(function, call_paths):
    """The argument-error cases of `function` through each of `call_paths`, which map a
    path name to a call taking the function's arguments (self included)."""
    n = len(function.parameters)
    parameters = function.parameters
    if function.form == "none":
        rows = [("positional", (1,), {}), ("keyword", (), {"x": 1})]
    elif function.form == "one":
        rows = [("no argument", (), {}), ("two arguments", (1, 2), {}), ("keyword", (1,), {"event": 1})]
    else:
        rows = [("one positional too many", (None,) * (n + 1), {}),
                ("one positional too few", (None,) * (n - 1), {}),
                ("a parameter left unfilled", (None,) * (n - 2), {parameters[-1]: 1}),
                ("keyword repeats a positional", (None,) * n, {parameters[-1]: 1}),
                ("unexpected keyword", (None,) * n, {"unexpected": 1})]
    rows.append(("keyword that is not a string", (None,) * n, {1: 2}))
    cases = []
    for path, call in call_paths.items():
        for text, args, kwargs in rows:
            if path != "call slot" and any(not isinstance(k, str) for k in kwargs):
                continue
            if path == "bound" and len(args) == 0:
                continue
            cases.append(("%s, %s" % (path, text), (lambda c=call, a=args, k=kwargs: c(*a, **k)), TypeError))
    # The interpreter's own check of keyword names, before the module sees them.
    first = next(iter(call_paths.values()))
    cases.append(("interpreter: keywords must be strings", lambda: first(*(None,) * n, **{1: 2}), TypeError))
    return cases


def slot(function):
    return lambda *args, **kwargs: type(function).__call__(function, *args, **kwargs)


def without(K, name, call, builtin=None):
    """`call` with the module-level `name` deleted (and found among the builtins if
    `builtin` is given)."""
    def run():
        saved = vars(K).pop(name)
        if builtin is not None:
            setattr(builtins, name, builtin)
        try:
            return call()
        finally:
            setattr(K, name, saved)
            if builtin is not None:
                delattr(builtins, name)
    return run


# Explicit lazy imports (3.15): a name bound to an unresolved import, which a lookup resolves.
LAZY_IMPORTS = sys.version_info >= (3, 15)


def lazily(K, statement, call):
    """`call` with a module-level name bound by the lazy import `statement` (without "lazy")."""
    def run():
        scratch = {}
        exec("lazy " + statement, scratch)
        name = statement.split()[-1]
        saved = vars(K)[name]
        vars(K)[name] = scratch[name]
        try:
            return call()
        finally:
            vars(K)[name] = saved
    return run


def drive_forms(K, wx, iterations):
    panel = wx.Panel()
    sys.modules["kestrova_leak_wx"] = wx  # what a lazy import of the toolkit resolves to

    def arguments(name, status="OpenFile"):
        values = {"FileDialogStatus": status, "Info": "Cap", "LebarForm": 200, "PosLeft": 300,
                  "PosTinggi": 50, "TargetPanel": panel}
        return {p: values[p] for p in CLASSES[name][1][1:]}

    for name in FORMS:
        form_class = getattr(K, name)
        init = CALLABLES[name + ".__init__"]
        kwargs = arguments(name)
        args = list(kwargs.values())

        def make(c=form_class, a=args):
            wx.reset()
            return c(*a)

        def make_by_keyword(c=form_class, k=kwargs):
            wx.reset()
            return c(**k)

        def through_slot(c=form_class, k=kwargs):
            wx.reset()
            type(c.__init__).__call__(c.__init__, object.__new__(c), **k)

        def text_top(c=form_class, k=kwargs):
            wx.reset()
            c(**dict(k, PosTinggi="50"))

        scenario(init.qualname, "calls", [
            ("made by position", make, None),
            ("made by keyword", make_by_keyword, None),
            ("called through the call slot", through_slot, None),
            ("a text PosTinggi", text_top, TypeError),
            ("wx not defined", without(K, "wx", make), NameError),
            ("wx found among the builtins", without(K, "wx", make, wx), None),
            ("tombol not defined", without(K, "tombol", make), NameError if name in FILE_FORMS else None),
        ] + ([
            ("wx a lazy import", lazily(K, "import kestrova_leak_wx as wx", make), None),
            ("wx a lazy import that fails", lazily(K, "import kestrova_missing_wx as wx", make), ImportError),
        ] if LAZY_IMPORTS else []), iterations)
        scenario(init.qualname, "argument errors", argument_errors(init, {
            "class": lambda *a, c=form_class, **k: c(*a[1:], **k),
            "function": form_class.__init__,
            "call slot": slot(form_class.__init__),
        }), iterations)

        if name not in FILE_FORMS:
            continue
        handler_function = CALLABLES[name + ".__init__.<locals>.filedialog"]

        def handler_of(status):
            wx.reset()
            form_class(**arguments(name, status))
            (handler,) = [a[1] for _, method, a, _ in wx.log if method == "Bind" and a[0] == "EVT_BUTTON"]
            return handler

        def press(handler, result=wx.ID_OK):
            def run():
                wx.reset()
                wx.FileDialog.modal_result = result
                try:
                    return handler("press")
                finally:
                    wx.FileDialog.modal_result = wx.ID_OK
            return run

        open_handler, save_handler, odd_handler = handler_of("OpenFile"), handler_of("SaveFile"), handler_of("x")
        emptied = handler_of("OpenFile")
        del emptied.__closure__[1].cell_contents  # the form
        wx.reset()
        scenario(handler_function.qualname, "calls", [
            ("open dialog confirmed", press(open_handler), None),
            ("save dialog confirmed", press(save_handler), None),
            ("dialog cancelled", press(open_handler, wx.ID_CANCEL), None),
            ("unknown dialog mode", press(odd_handler), UnboundLocalError),
            ("wx not defined", without(K, "wx", press(save_handler)), NameError),
            ("form no longer reachable", press(emptied), NameError),
        ], iterations)
        scenario(handler_function.qualname, "argument errors", argument_errors(handler_function, {
            "call": open_handler, "call slot": slot(open_handler)}), iterations)


def drive_tombol(K, wx, iterations):
    panel = wx.Panel()

    def target(event):
        return None

    def configure(btntype, **options):
        def run():
            wx.reset()
            button = K.tombol()
            button.btnconfig(panel, "Go", (1, 2), (3, 4), btntype, target, **options)
            return button
        return run

    def by_keyword():
        wx.reset()
        K.tombol().btnconfig(parent=panel, label="Go", pos=(1, 2), size=(3, 4), btntype=5, target=target)

    def through_slot():
        wx.reset()
        function = K.tombol.btnconfig
        type(function).__call__(function, K.tombol(), panel, "Go", (1, 2), (3, 4), btntype=2, target=target)

    class Unequal:
        def __eq__(self, other):
            raise ValueError("no comparison")

    scenario("tombol", "calls", [
        ("made", K.tombol, None),
        ("made with an argument", lambda: K.tombol(1), TypeError),
    ], iterations)
    btnconfig = CALLABLES["tombol.btnconfig"]
    scenario(btnconfig.qualname, "calls", [
        ("btntype %r" % (btntype,), configure(btntype), None)
        for btntype in [0, 1, 2, 3, 4, 5, 7, None, "3", 3.0, True]
    ] + [
        ("by keyword", by_keyword, None),
        ("through the call slot", through_slot, None),
        ("btntype whose comparison raises", configure(Unequal()), ValueError),
        ("GenButton not defined", without(K, "GenButton", configure(0)), NameError),
        ("wx not defined", without(K, "wx", configure(0)), NameError),
    ], iterations)
    button = K.tombol()
    scenario(btnconfig.qualname, "argument errors", argument_errors(btnconfig, {
        "bound": lambda *a, **k: button.btnconfig(*a[1:], **k),
        "function": K.tombol.btnconfig,
        "call slot": slot(K.tombol.btnconfig)}), iterations)

    configured = configure(3)()
    empty = K.tombol()
    for handler in HOVER_HANDLERS:
        function = CALLABLES["tombol." + handler]

        def hover(button=configured, name=handler, **kwargs):
            wx.reset()
            return getattr(button, name)(None, **kwargs)

        scenario(function.qualname, "calls", [
            ("bound", hover, None),
            ("unbound, by keyword", lambda name=handler: (wx.reset(), getattr(K.tombol, name)(configured, event=1)),
             None),
            ("without a button", lambda name=handler: getattr(empty, name)(None), AttributeError),
        ], iterations)
        scenario(function.qualname, "argument errors", argument_errors(function, {
            "bound": lambda *a, name=handler, **k: getattr(configured, name)(*a[1:], **k),
            "function": getattr(K.tombol, handler),
            "call slot": slot(getattr(K.tombol, handler))}), iterations)


def drive_functions(K, wx, iterations):
    panel, frame = wx.Panel(), wx.Frame()

    def show():
        wx.reset()
        K.showImage("pic.png", panel, (3, 4))

    function = CALLABLES["showImage"]
    scenario(function.qualname, "calls", [
        ("by position", show, None),
        ("by keyword", lambda: (wx.reset(), K.showImage(urlfileimage="a.png", parent=panel, pos=(0, 0))), None),
        ("wx not defined", without(K, "wx", show), NameError),
    ], iterations)
    scenario(function.qualname, "argument errors",
             argument_errors(function, {"call": K.showImage, "call slot": slot(K.showImage)}), iterations)

    windows_ctypes = types.ModuleType("ctypes")
    windows_ctypes.windll = types.SimpleNamespace(
        shell32=types.SimpleNamespace(SetCurrentProcessExplicitAppUserModelID=lambda text: None))

    def icon(tipe, parent=frame, ctypes_module=None):
        def run():
            wx.reset()
            saved = sys.modules.get("ctypes")
            if ctypes_module is not None:
                sys.modules["ctypes"] = ctypes_module
            try:
                return K.icon(parent, tipe)
            finally:
                if ctypes_module is not None:
                    if saved is None:
                        del sys.modules["ctypes"]
                    else:
                        sys.modules["ctypes"] = saved
        return run

    function = CALLABLES["icon"]
    scenario(function.qualname, "calls", [
        ("tipe 1, with a shell to tell", icon(1, ctypes_module=windows_ctypes), None),
        ("tipe 1, without", icon(1), None),
        ("tipe 2", icon(2, ctypes_module=windows_ctypes), None),
        ("tipe 0", icon(0), None),
        ("tipe '1'", icon("1"), None),
        ("parent without SetIcon", icon(2, parent=object()), AttributeError),
        ("wx not defined", without(K, "wx", icon(1)), NameError),
    ], iterations)
    scenario(function.qualname, "argument errors",
             argument_errors(function, {"call": K.icon, "call slot": slot(K.icon)}), iterations)

    def garis(stream):
        def run():
            saved, sys.stdout = sys.stdout, stream
            try:
                return K.garis()
            finally:
                sys.stdout = saved
        return run

    function = CALLABLES["garis"]
    scenario(function.qualname, "calls", [
        ("to the console", garis(Sink()), None),
        ("to a text buffer", lambda: garis(io.StringIO())(), None),
        ("console fails", garis(Broken()), OSError),
    ], iterations)
    scenario(function.qualname, "argument errors",
             argument_errors(function, {"call": K.garis, "call slot": slot(K.garis)}), iterations)


def drive_faults(K, rounds):
    from faulty_toolkit import Toolkit, fault_for, run_faulted, targets

    toolkit = Toolkit()
    restore = toolkit.bind(K)
    try:
        for target in targets():
            _, steps = run_faulted(K, toolkit, target, None, None)

            def fault(k, target=target):
                def run():
                    if run_faulted(K, toolkit, target, k, fault_for(k))[0] is None:
                        raise AssertionError("the fault at step %d did not reach the caller" % k)
                return run

            cases = [("fault at step %d (%s)" % (k, what), fault(k), None) for k, (what, _) in enumerate(steps, 1)]
            scenario(target.qualname, "toolkit faults: %s, %d steps" % (target.name, len(steps)), cases, rounds)
    finally:
        restore()


def self_check(iterations):
    """A scenario that does leak, so that the report shows that leaks are seen."""
    kept = []
    scenario("self-check", "keeps one object per call", [("append", lambda: kept.append(object()), None)],
             iterations)


def main():
    path, iterations = sys.argv[1], int(sys.argv[2])
    self_check(iterations)
    K = drive_loads(max(100, iterations // 2))
    import wx  # the stub toolkit, as the module imported it
    assert K.wx is wx and not hasattr(wx, "App"), "the stub toolkit must come first on the path"
    drive_forms(K, wx, iterations)
    drive_tombol(K, wx, iterations)
    drive_functions(K, wx, iterations)
    drive_faults(K, max(30, iterations // 20))
    with open(path, "w") as output:
        json.dump(results, output, indent=1)


if __name__ == "__main__":
    main()
