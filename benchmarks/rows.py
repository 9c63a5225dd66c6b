"""The rows of the benchmark table: one entry point each, defined once for both
implementations (the module and its plain-Python peer) and for every toolkit.

A row is a call expression plus a `prepare(impl, toolkit)` that returns the names the
expression uses. The runner compiles a separate timing loop around the expression for each
implementation, so that the interpreter's inline caches in the loop never see the other
implementation's objects.
"""

import contextlib
import os
import sys

IMAGE = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "examples", "logo.png")
IMAGE = os.path.normpath(IMAGE)


class Row:
    def __init__(self, name, call, prepare, context=None, group=""):
        self.name = name
        self.call = call
        self.prepare = prepare
        self.context = context or (lambda toolkit: contextlib.nullcontext())
        self.group = group


# --- preparations ---------------------------------------------------------------------------

FORMS = {
    # name: arguments after the class (a trailing None stands for the panel)
    "FormA": ("OpenFile", "Input image", 200, 50),
    "FormFolderTIF": ("OpenFile", "Input image", 200, 300, 50),
    "FormFolderProjection": ("OpenFile", "Projection", 200, 300, 50),
    "FormFolderCSV": ("SaveFile", "Table", 200, 300, 50),
    "FormText": ("Band", 80, 300, 110),
    "FormA2": ("OpenFile", "Second image", 200, 90),
    "FormC": ("SaveFile", "Output table", 200, 130),
    "FormB": ("Band", 80, 170),
    "FormB2": ("Scale", 80, 210),
}


def form_row(name):
    fixed = FORMS[name]
    parameters = ", ".join("a%d" % i for i in range(len(fixed)))

    def prepare(impl, toolkit):
        names = {"F": getattr(impl, name), "panel": toolkit.panel}
        names.update(("a%d" % i, value) for i, value in enumerate(fixed))
        return names

    return Row(name + "(...)", "F(%s, panel)" % parameters, prepare, group="construction")


# The colour schemes, by the btntype that selects them.
SCHEMES = list(range(6))


def press_target(event):
    pass


def btnconfig_row(scheme):
    def prepare(impl, toolkit):
        return {"tombol": impl.tombol, "panel": toolkit.panel, "label": "Run", "pos": (15, 150),
                "size": (100, 30), "scheme": scheme, "target": press_target}

    return Row("tombol().btnconfig %d" % scheme, "tombol().btnconfig(panel, label, pos, size, scheme, target)",
               prepare, group="button")


HOVER_HANDLERS = ["OnMouse%s%d" % (kind, scheme) for scheme in SCHEMES for kind in ("Enter", "Leave")]


def hover_row(handler):
    scheme = int(handler[len("OnMouseEnter"):])

    def prepare(impl, toolkit):
        button = impl.tombol()
        button.btnconfig(toolkit.panel, "Run", (15, 150), (100, 30), scheme, press_target)
        return {"button": button}

    return Row(handler, "button.%s(None)" % handler, prepare, group="hover")


def prepare_browse(impl, toolkit):
    # The form's handler is reachable only through its button's press binding.
    press = toolkit.press_handler(impl, lambda: impl.FormA("OpenFile", "Input image", 200, 50,
                                                           toolkit.panel))
    return {"press": press}


def prepare_image(impl, toolkit):
    return {"showImage": impl.showImage, "url": IMAGE, "panel": toolkit.panel, "pos": (400, 10)}


def prepare_icon(impl, toolkit):
    return {"icon": impl.icon, "frame": toolkit.frame}


@contextlib.contextmanager
def stub_windll(toolkit):
    import ctypes

    had = hasattr(ctypes, "windll")
    previous = getattr(ctypes, "windll", None)
    ctypes.windll = toolkit.windll
    try:
        yield
    finally:
        if had:
            ctypes.windll = previous
        else:
            del ctypes.windll


@contextlib.contextmanager
def without_windll(toolkit):
    import ctypes

    if hasattr(ctypes, "windll"):
        saved = ctypes.windll
        del ctypes.windll
        try:
            yield
        finally:
            ctypes.windll = saved
    else:
        yield


@contextlib.contextmanager
def null_stdout(toolkit):
    saved = sys.stdout
    with open(os.devnull, "w") as null:
        sys.stdout = null
        try:
            yield
        finally:
            sys.stdout = saved


def prepare_garis(impl, toolkit):
    return {"garis": impl.garis}


ROWS = (
    [form_row(name) for name in FORMS]
    + [btnconfig_row(scheme) for scheme in SCHEMES]
    + [hover_row(handler) for handler in HOVER_HANDLERS]
    + [
        Row("browse press (filedialog)", "press(None)", prepare_browse, group="handler"),
        Row("showImage", "showImage(url, panel, pos)", prepare_image, group="decoration"),
        Row("icon tipe 1, no windll", "icon(frame, 1)", prepare_icon, without_windll, group="decoration"),
        Row("icon tipe 1, stub windll", "icon(frame, 1)", prepare_icon, stub_windll, group="decoration"),
        Row("garis (null stream)", "garis()", prepare_garis, null_stdout, group="decoration"),
    ]
)


# The floor (benchmarks/stubwx/floor.cpp) of some rows: the call, and what it needs, given
# the floor module, the module under test and the toolkit.
class Plain:
    """An object of a plain class, as the forms' own instances are."""


FLOOR = {
    "FormB(...)": ("floor.FormB(Plain(), a0, a1, a2, panel)",
                   lambda floor, impl, toolkit: {"floor": floor, "Plain": Plain, "panel": toolkit.panel,
                                                 **dict(("a%d" % i, v) for i, v in enumerate(FORMS["FormB"]))}),
    "tombol().btnconfig 3": ("floor.btnconfig(tombol(), panel, label, pos, size, scheme, target)",
                             lambda floor, impl, toolkit: dict(btnconfig_row(3).prepare(impl, toolkit), floor=floor)),
    "OnMouseEnter0": ("floor.OnMouseEnter0(button, None)",
                      lambda floor, impl, toolkit: dict(hover_row("OnMouseEnter0").prepare(impl, toolkit), floor=floor)),
    "OnMouseEnter3": ("floor.OnMouseEnter3(button, None)",
                      lambda floor, impl, toolkit: dict(hover_row("OnMouseEnter3").prepare(impl, toolkit), floor=floor)),
    "browse press (filedialog)": ("floor.press(status, form)",
                                  lambda floor, impl, toolkit: {"floor": floor, "status": "OpenFile",
                                                                "form": impl.FormA("OpenFile", "Input image", 200, 50,
                                                                                   toolkit.panel)}),
    "showImage": ("floor.showImage(url, panel, pos)",
                  lambda floor, impl, toolkit: dict(prepare_image(impl, toolkit), floor=floor)),
}


def floor_row(row):
    """The row's floor as a row of its own, or None."""
    if row.name not in FLOOR:
        return None
    call, prepare = FLOOR[row.name]
    return Row(row.name, call, lambda floor_and_impl, toolkit: prepare(*floor_and_impl, toolkit), row.context,
               row.group)


def loop_source(row, names):
    """A function that runs the row's call `n` times."""
    parameters = ", ".join(sorted(names))
    return "def loop(n, %s):\n    for _ in range(n):\n        %s\n" % (parameters, row.call)


def compile_loop(row, names):
    """A new loop function for the row: `loop(n, names)` makes the call `n` times with the
    given names. Each compiled loop has its own inline caches."""
    namespace = {}
    exec(compile(loop_source(row, names), "<benchmark %s>" % row.name, "exec"), namespace)
    loop = namespace["loop"]
    return lambda n, names: loop(n, *[names[key] for key in sorted(names)])


def call_once(row, names):
    """Runs the row's call once (what the tests use to compare call sequences)."""
    compile_loop(row, names)(1, names)


# --- panels of many rows --------------------------------------------------------------------

PANEL_KINDS = list(FORMS) + ["tombol", "showImage"]


def panel_builder():
    """A build_panel of its own (a new code object, so new inline caches), for one
    implementation: a builder shared by both would respecialise whenever they alternate."""
    import types

    return types.FunctionType(build_panel.__code__.replace(), build_panel.__globals__,
                              "build_panel", build_panel.__defaults__)


def build_panel(impl, panel, rows=100):
    """Lays out `rows` rows on `panel`, cycling through the nine forms, a button and an image,
    as an application's input panel would, 30 pixels apart."""
    for index in range(rows):
        kind = PANEL_KINDS[index % len(PANEL_KINDS)]
        top = 30 + 30 * index
        if kind == "tombol":
            impl.tombol().btnconfig(panel, "Run", (15, top), (100, 24), SCHEMES[index % len(SCHEMES)], press_target)
        elif kind == "showImage":
            impl.showImage(IMAGE, panel, (600, top))
        else:
            arguments = FORMS[kind]
            # the last argument of every form is its top position
            getattr(impl, kind)(*arguments[:-1], top, panel)

