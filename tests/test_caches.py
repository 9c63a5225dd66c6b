"""Lookups stay fresh behind the module's inline caches: after the caches have been warmed
by repeated calls, any change to what a lookup would find takes effect at the next
statement, and native methods fail exactly as when plain Python calls them."""

import builtins
import gc
import os
import subprocess
import sys
import types
import weakref

import pytest
from conftest import PORTABLE, TESTS, calls, load_stub_toolkit, module_entries, run_python

WARM = 5  # calls that fill the caches before the change under test


class Probe:
    """A button or caption stand-in that records what is called on it."""

    def __init__(self):
        self.log = []

    def SetBackgroundColour(self, colour):
        self.log.append(colour)

    def SetForegroundColour(self, colour):
        self.log.append(colour)

    def Refresh(self):
        self.log.append("Refresh")


def toolkit_copy(native_wx, name="wx"):
    module = types.ModuleType(name)
    vars(module).update({k: v for k, v in vars(native_wx).items() if not k.startswith("__")})
    return module


def warm_text_rows(K, panel):
    for _ in range(WARM):
        K.FormB("Cap", 10, 30, panel)


# How the module's toolkit changes after warm calls, and the TextCtrl type expected next.
def rebind_attribute(K, module, sub):
    module.TextCtrl = sub


def rebind_module(K, module, sub):
    other = toolkit_copy(module, "other")
    other.TextCtrl = sub
    K.wx = other


def add_non_string_key(K, module, sub):
    vars(module)[1] = "not a name"  # lookups in this namespace may run key comparisons now
    module.TextCtrl = sub


@pytest.mark.parametrize("change", [rebind_attribute, rebind_module, add_non_string_key])
def test_module_names_are_read_afresh(K, native_wx, monkeypatch, change):
    module = toolkit_copy(native_wx)
    monkeypatch.setattr(K, "wx", module)
    panel = native_wx.Panel()
    warm_text_rows(K, panel)

    class TextCtrl(native_wx.TextCtrl):
        pass

    change(K, module, TextCtrl)
    assert type(K.FormB("Cap", 10, 30, panel).entryOpenFile) is TextCtrl


def test_removed_names_fail_after_warm_calls(K, native_wx, monkeypatch):
    module = toolkit_copy(native_wx)
    monkeypatch.setattr(K, "wx", module)
    panel = native_wx.Panel()
    warm_text_rows(K, panel)
    del module.TextCtrl
    with pytest.raises(AttributeError, match=r"^module 'wx' has no attribute 'TextCtrl'$") as caught:
        K.FormB("Cap", 10, 30, panel)
    assert module_entries(caught.tb) == [("KestrovaGUI.FormB.__init__", 206)]
    monkeypatch.delattr(K, "wx")
    with pytest.raises(NameError, match=r"^name 'wx' is not defined$"):
        K.FormB("Cap", 10, 30, panel)
    monkeypatch.setattr(builtins, "wx", native_wx, raising=False)
    assert type(K.FormB("Cap", 10, 30, panel).entryOpenFile) is native_wx.TextCtrl


def test_caches_keep_nothing_alive(K, native_wx, monkeypatch):
    module = toolkit_copy(native_wx)
    monkeypatch.setattr(K, "wx", module)
    warm_text_rows(K, native_wx.Panel())
    gone = weakref.ref(module)
    K.wx = native_wx
    del module
    gc.collect()
    assert gone() is None


# How a warmed tombol changes, and the Probe expected to receive the next hover calls.
def rebind_button(K, button, probe):
    button.btn = probe


def through_instance_dictionary(K, button, probe):
    vars(button)["btn"] = probe  # the instance now keeps a real dictionary


def class_property(K, button, probe):
    type(button).btn = property(lambda self: probe)  # a data descriptor outranks the instance


def class_getattribute(K, button, probe):
    def __getattribute__(self, name):
        return probe if name == "btn" else object.__getattribute__(self, name)

    type(button).__getattribute__ = __getattribute__


def swap_class(K, button, probe):
    class Other(K.tombol):
        btn = property(lambda self: probe)

    button.__class__ = Other


@pytest.mark.parametrize("change", [rebind_button, through_instance_dictionary, class_property,
                                    class_getattribute, swap_class])
def test_instance_attributes_are_read_afresh(K, bind_native_wx, change):
    class Button(K.tombol):  # changes to the class stay with this test
        pass

    button = Button()
    button.btnconfig(bind_native_wx.Panel(), "Go", (1, 2), (3, 4), 3, print)
    for _ in range(WARM):
        button.OnMouseEnter3(None)
    probe = Probe()
    change(K, button, probe)
    button.OnMouseEnter3(None)
    assert probe.log == [(255, 191, 0), "Refresh"]


def test_instance_dictionary_replaced_during_a_read(K):
    # A key of the instance's dictionary whose comparison with "btn" replaces that dictionary,
    # the last owner of it and of the button it holds, in the middle of the lookup: the read
    # finishes in the dictionary it began in, and never in freed memory (which the sanitizer
    # run reports); the next read finds the new one.
    button, new = K.tombol(), Probe()
    button.btn = Probe()
    old_log = button.btn.log
    for _ in range(WARM):
        button.OnMouseEnter3(None)
    del old_log[:]
    armed = []

    class Colliding:
        def __hash__(self):
            return hash("btn")

        def __eq__(self, other):
            if armed and armed.pop():
                button.__dict__ = {"btn": new}
            return False

    contents = dict(vars(button))
    vars(button).clear()
    vars(button)[Colliding()] = None  # met first on the way to "btn"
    vars(button).update(contents)
    del contents
    armed.append(True)
    button.OnMouseEnter3(None)
    assert (old_log, new.log, armed) == ([(255, 191, 0)], ["Refresh"], [])


# How a warmed class changes before the next btnconfig stores `btn`, and where the new
# button is then expected to be found (given the Button class and the instance).
def store_through_property(Button, button, stored):
    Button.btn = property(lambda self: stored[-1], lambda self, value: stored.append(value))
    return lambda: stored[-1]


def store_through_setattr(Button, button, stored):
    def __setattr__(self, name, value):
        stored.append(value)
        object.__setattr__(self, name, value)

    Button.__setattr__ = __setattr__
    return lambda: stored[-1] if stored[-1] is button.btn else None


def store_into_materialised_dictionary(Button, button, stored):
    vars(button)  # the instance keeps a real dictionary from now on
    return lambda: vars(button)["btn"]


@pytest.mark.parametrize("change", [store_through_property, store_through_setattr,
                                    store_into_materialised_dictionary])
def test_instance_attributes_are_stored_afresh(K, bind_native_wx, change):
    class Button(K.tombol):
        pass

    panel = bind_native_wx.Panel()
    for _ in range(WARM):
        Button().btnconfig(panel, "Go", (1, 2), (3, 4), 3, print)
    button, stored = Button(), []
    found = change(Button, button, stored)
    button.btnconfig(panel, "Go", (1, 2), (3, 4), 3, print)
    assert type(found()) is bind_native_wx.GenButton


def test_stored_attributes_keep_their_order(K, bind_native_wx):
    class Button(K.tombol):
        pass

    panel = bind_native_wx.Panel()
    first, later = Button(), Button()
    first.before = 1  # `before` takes the class's first attribute slot, `btn` the second
    for _ in range(WARM):
        Button().btnconfig(panel, "Go", (1, 2), (3, 4), 3, print)
    first.btnconfig(panel, "Go", (1, 2), (3, 4), 3, print)
    first.after = 2
    later.btnconfig(panel, "Go", (1, 2), (3, 4), 3, print)
    del later.btn
    later.after = 2
    later.btnconfig(panel, "Go", (1, 2), (3, 4), 3, print)  # set again, now last
    assert list(vars(first)) == ["before", "btn", "after"]
    assert list(vars(later)) == ["after", "btn"]
    assert type(first.btn) is type(later.btn) is bind_native_wx.GenButton


def hide_in_instance(Button, button, handler):
    button.OnMouseEnter3 = handler


def replace_on_class(Button, button, handler):
    Button.OnMouseEnter3 = staticmethod(handler)


def data_descriptor_on_class(Button, button, handler):
    Button.OnMouseEnter3 = property(lambda self: handler)


@pytest.mark.parametrize("change", [hide_in_instance, replace_on_class, data_descriptor_on_class])
def test_bound_handlers_are_read_afresh(K, stub_wx, change):
    class Button(K.tombol):
        pass

    panel = stub_wx.Panel()
    for _ in range(WARM):
        Button().btnconfig(panel, "Go", (1, 2), (3, 4), 3, print)
    button = Button()

    def handler(event):
        pass

    change(Button, button, handler)
    stub_wx.reset()
    button.btnconfig(panel, "Go", (1, 2), (3, 4), 3, print)
    bound = [args[1] for _, name, args, _ in stub_wx.log if name == "Bind"]
    assert bound[1] is handler
    assert bound[2].__self__ is button and bound[2].__func__ is K.tombol.__dict__["OnMouseLeave3"]


def test_missing_instance_attribute_after_warm_calls(K, bind_native_wx):
    button = K.tombol()
    button.btnconfig(bind_native_wx.Panel(), "Go", (1, 2), (3, 4), 4, print)
    for _ in range(WARM):
        button.OnMouseLeave4(None)
    del button.btn
    with pytest.raises(AttributeError, match=r"^'tombol' object has no attribute 'btn'$") as caught:
        button.OnMouseLeave4(None)
    assert module_entries(caught.tb) == [("KestrovaGUI.tombol.OnMouseLeave4", 310)]


def test_native_methods_are_looked_up_afresh(K, native_wx, monkeypatch):
    class Button(native_wx.GenButton):
        __slots__ = ()  # nothing of its own beyond what the toolkit's button has

    class Louder(native_wx.GenButton):
        __slots__ = ()

        def Refresh(self):
            seen.append("Louder.Refresh")

    seen = []
    monkeypatch.setattr(K, "wx", native_wx)
    monkeypatch.setattr(K, "GenButton", Button)
    button = K.tombol()
    button.btnconfig(native_wx.Panel(), "Go", (1, 2), (3, 4), 5, print)
    for _ in range(WARM):
        button.OnMouseEnter5(None)
    Button.SetBackgroundColour = lambda self, colour: seen.append(colour)
    button.OnMouseEnter5(None)
    del Button.SetBackgroundColour  # back to the native method
    button.OnMouseEnter5(None)
    if hasattr(button.btn, "__dict__"):  # the real toolkit's shape: a button's own attribute hides it
        button.btn.SetBackgroundColour = lambda colour: seen.append(("own", colour))
        button.OnMouseEnter5(None)
        del button.btn.SetBackgroundColour
    button.btn.__class__ = Louder
    button.OnMouseEnter5(None)
    expected = [(255, 120, 0)] + ([("own", (255, 120, 0))] if "own" in repr(seen) else []) + ["Louder.Refresh"]
    assert seen == expected
    assert ("own" in repr(seen)) == hasattr(native_wx.GenButton(), "__dict__")


@pytest.mark.parametrize("change", ["hide", "other_key_then_hide", "dictionary"])
def test_methods_of_python_level_buttons_are_looked_up_afresh(K, native_wx, monkeypatch, change):
    seen = []

    class Button:  # a button class written in Python: instances keep attributes inline
        def __init__(self, parent, id, label, pos, size):
            self.label = label

        def SetBackgroundColour(self, colour):
            seen.append(("class", colour))

        def SetForegroundColour(self, colour):
            pass

        def SetBezelWidth(self, width):
            pass

        def Bind(self, event, handler):
            pass

        def Refresh(self):
            pass

    monkeypatch.setattr(K, "wx", native_wx)
    monkeypatch.setattr(K, "GenButton", Button)
    button = K.tombol()
    button.btnconfig(native_wx.Panel(), "Go", (1, 2), (3, 4), 3, print)
    for _ in range(WARM):
        button.OnMouseEnter3(None)
    del seen[:]

    def hiding(colour):
        seen.append(("instance", colour))

    if change == "other_key_then_hide":
        button.btn.other = 1  # the shared keys grow, the method stays visible
        button.OnMouseEnter3(None)
    if change == "dictionary":
        vars(button.btn)["SetBackgroundColour"] = hiding
    else:
        button.btn.SetBackgroundColour = hiding
    button.OnMouseEnter3(None)
    expected = [("class", (255, 191, 0))] if change == "other_key_then_hide" else []
    assert seen == expected + [("instance", (255, 191, 0))]


class CaptionList(list):
    SetForegroundColour = list.append  # a native method taking one argument


class CaptionNoArguments(list):
    SetForegroundColour = list.clear  # a native method taking none


class CaptionForeign:
    SetForegroundColour = list.append  # a native method of another type


@pytest.mark.parametrize("caption_type", [CaptionList, CaptionNoArguments, CaptionForeign])
def test_native_methods_behave_as_when_python_calls_them(K, native_wx, monkeypatch, caption_type):
    module = toolkit_copy(native_wx)
    captions = []

    def StaticText(*args, **kwargs):
        captions.append(caption_type())
        return captions[-1]

    module.StaticText = StaticText
    monkeypatch.setattr(K, "wx", module)
    try:
        expected = caption_type().SetForegroundColour("GREY")
    except TypeError as error:
        expected = error
    for _ in range(WARM):
        if isinstance(expected, TypeError):
            with pytest.raises(TypeError) as caught:
                K.FormB("Cap", 10, 30, native_wx.Panel())
            assert str(caught.value) == str(expected)
            assert module_entries(caught.tb) == [("KestrovaGUI.FormB.__init__", 210)]
        else:
            K.FormB("Cap", 10, 30, native_wx.Panel())
            assert captions[-1] == ["GREY"]


@pytest.mark.parametrize("status, dialogs", [("OpenFile", 1), ("Open" + "File"[:], 1), ("SaveFile", 1),
                                            ("openfile", 0), ("OpenFile ", 0)])
def test_status_compares_by_value(K, bind_native_wx, status, dialogs):
    K.FormA(status, "Cap", 10, 30, bind_native_wx.Panel())
    press = bind_native_wx.pressed_handler()
    before = bind_native_wx.call_count()
    if dialogs:
        press(None)  # FileDialog, ShowModal, GetPath, SetValue, Destroy
        assert bind_native_wx.call_count() - before == 5
    else:
        with pytest.raises(UnboundLocalError):
            press(None)


def test_equality_of_int_subclasses_is_their_own(K, stub_wx):
    class AlwaysEqual(int):
        def __eq__(self, other):
            return True

        __hash__ = int.__hash__

    button = K.tombol()
    button.btnconfig(stub_wx.Panel(), "Go", (1, 2), (3, 4), AlwaysEqual(9), print)
    assert [args[1].__func__.__name__ for _, name, args, _ in stub_wx.log
            if name == "Bind" and args[0] != "EVT_BUTTON"] == ["OnMouseEnter0", "OnMouseLeave0"]


# How a warmed form class changes before it is called again, made to the module's class and
# to the plain peer's alike (each in a fresh interpreter), whose outcomes must agree.
CLASS_CHANGES = {
    "a new initialiser": "cls.__init__ = lambda self, *args, **kwargs: seen.append(('init', len(args), sorted(kwargs)))",
    "a constructor": "cls.__new__ = lambda klass, *args, **kwargs: seen.append(('new', len(args), sorted(kwargs))) or object.__new__(klass)",
    "no initialiser": "del cls.__init__",
    "an initialiser that returns": "cls.__init__ = lambda self, *args, **kwargs: 1",
    "a metaclass": "cls.__class__ = type('Meta', (type,), {'__call__': lambda klass, *a, **k: seen.append(('meta', len(a)))})",
    "nothing": "pass",
}
CLASS_CALL = """if True:
    import sys, {impl} as impl
    impl.wx = impl.GenButton = None
    import wx as toolkit
    impl.wx = toolkit
    cls, seen = impl.FormB, []
    for _ in range(5):
        cls("Cap", 10, 30, toolkit.Panel())
    try:
        {change}
    except TypeError as error:
        print(["refused", str(error)])
        sys.exit()
    outcomes = []
    for arguments, keywords in [(("Cap", 10, 30, toolkit.Panel()), {{}}),
                                (("Cap",), {{"LebarForm": 10, "PosTinggi": 30, "TargetPanel": toolkit.Panel()}})]:
        try:
            made = cls(*arguments, **keywords)
            outcomes.append(type(made).__name__)
        except TypeError as error:
            outcomes.append(str(error).replace("plain.", "").replace("KestrovaGUI.", ""))
    print([outcomes, seen])
"""


@pytest.mark.parametrize("change", sorted(CLASS_CHANGES))
def test_class_calls_follow_the_class(change):
    done = [run_python(CLASS_CALL.format(impl=impl, change=CLASS_CHANGES[change]), path=[str(TESTS.parent / "benchmarks")])
            for impl in ("KestrovaGUI", "plain")]
    assert [d.returncode for d in done] == [0, 0], done[0].stderr[-2000:] + done[1].stderr[-2000:]
    module, peer = (d.stdout.splitlines()[-1] for d in done)
    assert module == peer


@pytest.mark.skipif(PORTABLE, reason="this whole run tests a build without fast paths")
def test_portable_operations_without_fast_paths(build_variant):
    """The portable operations alone, as a build without fast paths has them (and as every
    build has them where the probe at load declines the fast paths): these tests pass there too."""
    variant = build_variant("portable", "-Dfast_paths=false", plain=True)
    env = dict(os.environ, KESTROVA_BUILD=str(variant), KESTROVA_PORTABLE="1",
               PYTHONPATH=os.pathsep.join(filter(None, [str(variant), os.environ.get("PYTHONPATH")])))
    env.pop("KESTROVA_INSTALLED", None)
    done = subprocess.run([sys.executable, "-m", "pytest", "-p", "no:cacheprovider", "-q",
                           str(TESTS / "test_caches.py"), str(TESTS / "test_functions.py")],
                          env=env, capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stdout[-4000:] + done.stderr[-2000:]
    assert " passed" in done.stdout.splitlines()[-1]


# --- Explicit lazy imports: a namespace may hold a placeholder, which a lookup resolves
# (and rebinds) exactly as the interpreter's own lookup does, warm caches or not. Each case
# is run on the module and on its plain-Python peer, each with a fresh recording toolkit
# importable as `kestrova_lazy_wx`, and their outcomes are compared.

needs_lazy_imports = pytest.mark.skipif(sys.version_info < (3, 15),
                                        reason="explicit lazy imports are new in Python 3.15")
LAZY_NAMES = "from kestrova_lazy_wx import _TextCtrl as TextCtrl, _GenButton as GenButton\n"


def lazy(module, name, statement, monkeypatch):
    """Binds `name` in the namespace of `module` to the unresolved placeholder of a lazy import."""
    scratch = {}
    exec("lazy " + statement, scratch)
    assert type(scratch[name]).__name__ == "lazy_import"
    monkeypatch.setattr(module, name, scratch[name], raising=False)


# Where the placeholder goes, what it stands for, and the entry point whose lookup meets it.
GLOBALS, BUILTINS, TOOLKIT = (lambda impl, toolkit: impl, lambda impl, toolkit: builtins,
                              lambda impl, toolkit: toolkit)
LAZY_CASES = {
    "wx in the globals": (GLOBALS, "wx", "import kestrova_lazy_wx as wx", "FormB"),
    "wx in the builtins": (BUILTINS, "wx", "import kestrova_lazy_wx as wx", "FormB"),
    "GenButton in the globals": (GLOBALS, "GenButton", "from kestrova_lazy_names import GenButton", "btnconfig"),
    "TextCtrl in the toolkit": (TOOLKIT, "TextCtrl", "from kestrova_lazy_names import TextCtrl", "FormB"),
    "a module that is missing": (GLOBALS, "wx", "import kestrova_missing_wx as wx", "FormB"),
}
RESOLVED = {"wx": lambda toolkit: toolkit, "GenButton": lambda toolkit: toolkit._GenButton,
            "TextCtrl": lambda toolkit: toolkit._TextCtrl}


def lazy_outcome(impl, case, monkeypatch, tmp_path):
    where, name, statement, entry = LAZY_CASES[case]
    toolkit = load_stub_toolkit()
    toolkit._TextCtrl, toolkit._GenButton = toolkit.TextCtrl, toolkit.GenButton
    monkeypatch.setitem(sys.modules, "kestrova_lazy_wx", toolkit)
    (tmp_path / "kestrova_lazy_names.py").write_text(LAZY_NAMES)
    monkeypatch.syspath_prepend(str(tmp_path))
    sys.modules.pop("kestrova_lazy_names", None)
    monkeypatch.setattr(impl, "wx", toolkit)
    monkeypatch.setattr(impl, "GenButton", toolkit.GenButton)

    def call():
        if entry == "FormB":
            impl.FormB("Cap", 10, 30, toolkit.Panel())
        else:
            impl.tombol().btnconfig(toolkit.Panel(), "Go", (1, 2), (3, 4), 3, print)

    for _ in range(WARM):
        call()
    module = where(impl, toolkit)
    if module is builtins:
        monkeypatch.delattr(impl, "wx")
    lazy(module, name, statement, monkeypatch)
    toolkit.reset()
    outcome = []
    for _ in range(2):
        try:
            call()
            outcome.append(calls(toolkit))
        except ImportError as error:
            entries = module_entries(error.__traceback__)
            outcome.append((type(error), str(error), type(error.__cause__), str(error.__cause__),
                            getattr(error, "__notes__", None), entries))
        bound = vars(module)[name]
        outcome.append("resolved and rebound" if bound is RESOLVED[name](toolkit) else type(bound).__name__)
    sys.modules.pop("kestrova_lazy_names", None)
    return outcome


@needs_lazy_imports
@pytest.mark.parametrize("case", sorted(LAZY_CASES))
def test_lazy_imports_resolve_as_in_python(K, monkeypatch, tmp_path, case):
    sys.path.insert(0, str(TESTS.parent / "benchmarks"))
    import plain

    module, peer = (lazy_outcome(impl, case, monkeypatch, tmp_path) for impl in (K, plain))
    if case == "a module that is missing":
        # Where the peer's entry names its own source, the module's names itself.
        assert peer[0][-1] == [] and module[0][-1] == module[2][-1] == [("KestrovaGUI.FormB.__init__", 205)]
        module = [item[:-1] if isinstance(item, tuple) else item for item in module]
        peer = [item[:-1] if isinstance(item, tuple) else item for item in peer]
        assert module[0][0] is ModuleNotFoundError and module[1] == "lazy_import"
    else:
        assert module[1] == module[3] == "resolved and rebound"
    assert module == peer
