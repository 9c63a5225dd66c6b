"""Lookups stay fresh behind the module's inline caches: after the caches have been warmed
by repeated calls, any change to what a lookup would find takes effect at the next
statement, and native methods fail exactly as when plain Python calls them."""

import builtins
import gc
import os
import re
import subprocess
import sys
import sysconfig
import textwrap
import types
import weakref

import pytest
from conftest import PORTABLE, TESTS, calls, listed_line, load_stub_toolkit, module_entries, run_python

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
    assert module_entries(caught.tb) == [("KestrovaGUI.FormB.__init__", listed_line("KestrovaGUI.FormB.__init__", "wx.TextCtrl("))]
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
    name = "KestrovaGUI.tombol.OnMouseLeave4"
    assert module_entries(caught.tb) == [(name, listed_line(name, "SetBackgroundColour"))]


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
            assert module_entries(caught.tb) == [("KestrovaGUI.FormB.__init__", listed_line("KestrovaGUI.FormB.__init__", "Text.SetForegroundColour"))]
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


# Metaprogramming against warm caches: each case runs on the module and on its plain-Python
# peer, each in a fresh interpreter (the same hash seed for both) over the native stand-in
# toolkit in either shape, and prints what happened; the two must agree.
MUTATION_PRELUDE = """if True:
    import sys, types, {toolkit} as wx, {impl} as K
    K.wx, K.GenButton = wx, wx.GenButton

    def outcome(action):
        try:
            action()
            return "done"
        except Exception as error:
            return "%s: %s" % (type(error).__name__, str(error).replace("plain.", "").replace("KestrovaGUI.", ""))
"""
WARM_BUTTON = "for _ in range(3): K.tombol().btnconfig(None, '', (0, 0), (0, 0), {btntype}, None)"
MUTATIONS = {
    "a descriptor that loses __get__": """
    class D:
        def __get__(self, obj, typ=None): return "bound-by-D"
    K.tombol.OnMouseEnter0 = D()
    """ + WARM_BUTTON.format(btntype=0) + """
    del D.__get__
    print(outcome(lambda: K.tombol().btnconfig(None, "", (0, 0), (0, 0), 0, None)))
    """,
    "the type of the functions refuses changes": """
    print(outcome(lambda: delattr(type(K.tombol.OnMouseEnter0), "__get__")).split(":")[0])
    """,
    "a descriptor that gains __set__": """
    calls = []
    class D:
        def __get__(self, obj, typ=None): return obj.__dict__.get("btn") if obj is not None else self
    K.tombol.btn = D()
    """ + WARM_BUTTON.format(btntype=9) + """
    D.__set__ = lambda self, obj, value: (calls.append(value), obj.__dict__.__setitem__("btn", value))
    K.tombol().btnconfig(None, "", (0, 0), (0, 0), 9, None)
    print(len(calls))
    """,
    "a descriptor that becomes a data descriptor": """
    seen = []
    class Seen:
        def __init__(self, name): self.name = name
        def SetBackgroundColour(self, colour): seen.append(self.name)
        def Refresh(self): seen.append(self.name)
    class D:
        def __get__(self, obj, typ=None): return Seen("descriptor") if obj is not None else self
    class Button(K.tombol):
        btn = D()
    button = Button()
    vars(button)["btn"] = Seen("instance")
    for _ in range(3): button.OnMouseEnter3(None)
    D.__set__ = lambda self, obj, value: None
    del seen[:]
    button.OnMouseEnter3(None)
    print(seen)
    """,
    "a module without a namespace": """
    K.FormB("Info", 200, 50, wx.Panel())
    K.wx = types.ModuleType.__new__(types.ModuleType)
    print(outcome(lambda: K.FormB("Info", 200, 50, wx.Panel())))
    """,
    "a windll without a namespace": """
    import ctypes
    ctypes.windll = wx.windll
    for _ in range(3): K.icon(wx.Frame(), 1)
    ctypes.windll = types.ModuleType.__new__(types.ModuleType)
    print(outcome(lambda: K.icon(wx.Frame(), 1)))
    """,
    "a key of the instance dictionary whose comparison fails": """
    class Key:
        armed = False
        def __hash__(self): return hash("btn")
        def __eq__(self, other): return Key.armed and 1 / 0
    button = K.tombol()
    button.btnconfig(wx.Panel(), "", (0, 0), (0, 0), 3, None)
    for _ in range(3): button.OnMouseEnter3(None)
    del button.btn
    vars(button)[Key()] = Key.armed = True
    print(outcome(lambda: button.OnMouseEnter3(None)))
    """,
    "a missing attribute, looked up once": """
    compared = []
    class Key:
        def __hash__(self): return hash("btn")
        def __eq__(self, other): return compared.append(other)
    class Self(Exception): pass
    holder = Self()
    holder.btn = wx.GenButton()
    for _ in range(3): K.tombol.OnMouseEnter0(holder, None)
    del holder.btn
    vars(holder)[Key()] = 0
    del compared[:]
    print(outcome(lambda: K.tombol.OnMouseEnter0(holder, None)), len(compared))
    """,
}
# A method of another type, found unbound and refused only when it is called (after its
# argument has been made), and one whose own argument check words the error.
for method in ("list.append", "object.__sizeof__"):
    MUTATIONS["%s as SetFont" % method] = """
    fonts, font = [], wx.Font
    class TextCtrl(wx.TextCtrl):
        SetFont = %s
    wx.TextCtrl, wx.Font = TextCtrl, lambda *args: fonts.append(args) or font(*args)
    print(outcome(lambda: K.FormB("Info", 200, 50, wx.Panel())), len(fonts))
    """ % method


@pytest.mark.parametrize("case", sorted(MUTATIONS))
def test_metaprogramming_behaves_as_in_python(native_wx, case):
    path = [os.path.dirname(native_wx.__file__), str(TESTS.parent / "benchmarks")]
    done = [run_python(MUTATION_PRELUDE.format(toolkit=native_wx.__name__, impl=impl) + MUTATIONS[case], path=path,
                       env={"PYTHONHASHSEED": "0"}) for impl in ("KestrovaGUI", "plain")]
    assert [d.returncode for d in done] == [0, 0], done[0].stderr[-2000:] + done[1].stderr[-2000:]
    module, peer = (d.stdout.splitlines()[-1] for d in done)
    assert module == peer


# Re-entry under a low recursion limit: from a toolkit method written in Python that makes the
# form again, and from a native method that compares with an object whose __eq__ hovers again.
REENTRY = """if True:
    import sys, wx, KestrovaGUI as K
    K.wx, K.GenButton = wx, wx.GenButton
    depth = [0, 0]
    def deeper(again):
        depth[0] += 1
        depth[1] = max(depth)
        try:
            again()
        except RecursionError:
            pass
        finally:
            depth[0] -= 1
    {case}
    for _ in range(3): enter()
    sys.setrecursionlimit(60)
    depth[1] = 0
    enter()
    print(depth[1])
"""
REENTRIES = {
    "a class": """
    class TextCtrl(wx.TextCtrl):
        def SetFont(self, font):
            deeper(enter)
    wx.TextCtrl = TextCtrl
    enter = lambda: K.FormB("Info", 200, 50, None)
    """,
    "a native method": """
    class Again:
        def __eq__(self, other):
            deeper(enter)
            return False
    class Button(list):
        SetBackgroundColour, Refresh = list.count, list.copy
    button = K.tombol()
    button.btn = Button([Again()])
    enter = lambda: button.OnMouseEnter3(None)
    """,
}


@pytest.mark.skipif(PORTABLE, reason="this whole run tests a build without fast paths")
@pytest.mark.parametrize("case", sorted(REENTRIES))
def test_fast_paths_count_call_depth_as_the_portable_operations(build_variant, case):
    portable = build_variant("portable", "-Dfast_paths=false", plain=True)
    done = [run_python(REENTRY.format(case=REENTRIES[case]), path=path) for path in ([], [str(portable)])]
    assert [d.returncode for d in done] == [0, 0], done[0].stderr[-2000:] + done[1].stderr[-2000:]
    depths = [int(d.stdout.split()[-1]) for d in done]
    assert depths[0] == depths[1] > 1


def version_tag_counter():
    """(library, offset) of the counter that 3.7 to 3.10 take version tags from, a static of
    libpython found through its symbol table; or the reason it cannot be reached."""
    if sys.version_info >= (3, 11):
        return "version tags do not wrap around from Python 3.11 on"
    if not sysconfig.get_config_var("Py_ENABLE_SHARED"):
        return "needs libpython as a shared library"
    library = os.path.realpath(os.path.join(sysconfig.get_config_var("LIBDIR"), sysconfig.get_config_var("INSTSONAME")))
    try:
        symbols = subprocess.run(["nm", library], capture_output=True, text=True).stdout
    except FileNotFoundError:
        return "needs nm"
    found = re.findall(r"^([0-9a-f]+) [bd] next_version_tag$", symbols, re.M)
    return (library, int(found[0], 16)) if found else "needs the symbol table of " + library


# The counter moved to just before its wrap, and back to a tag given out before it: after the
# wrap, that tag goes to another class, or to the same class after a change.
WRAP = """if True:
    import ctypes
    base = min(int(line.split("-")[0], 16) for line in open("/proc/self/maps")
               if line.rstrip().endswith({library!r}) and line.split()[2] == "00000000")
    counter = ctypes.c_uint.from_address(base + {offset})
    seen = []
    class A:
        def SetBackgroundColour(self, colour): seen.append("A")
        def Refresh(self): pass
    class B:
        def SetBackgroundColour(self, colour): seen.append("B")
        def Refresh(self): pass
    a, b, button = A(), B(), K.tombol()
    A.changed = True
    counter.value = 0x40000000
    a.Refresh  # A takes that tag
    button.btn = a
    for _ in range(3): button.OnMouseEnter3(None)
    counter.value = 0
    B.changed = True
    b.Refresh  # B takes tag 0: every tag is invalid from now on
    {change}
    target = button.btn
    counter.value = 0x40000000
    target.Refresh  # takes the tag A had
    button.OnMouseEnter3(None)
    print(seen[-1])
"""
WRAP_CHANGES = {"another class": "button.btn = b",
                "the same class": "A.SetBackgroundColour = lambda self, colour: seen.append('A again'); "
                                  "filler = [[] for _ in range(1000)]"}


@pytest.mark.parametrize("change", sorted(WRAP_CHANGES))
def test_version_tags_that_wrap_around(native_wx, change):
    counter = version_tag_counter()
    if isinstance(counter, str):
        pytest.skip(counter)
    library, offset = counter
    code = MUTATION_PRELUDE + textwrap.indent(textwrap.dedent(WRAP.format(library=library, offset=offset,
                                                                          change=WRAP_CHANGES[change])), "    ")
    path = [os.path.dirname(native_wx.__file__), str(TESTS.parent / "benchmarks")]
    done = [run_python(code.format(toolkit=native_wx.__name__, impl=impl), path=path) for impl in ("KestrovaGUI", "plain")]
    assert [d.returncode for d in done] == [0, 0], done[0].stderr[-2000:] + done[1].stderr[-2000:]
    assert done[0].stdout.split()[-1] == done[1].stdout.split()[-1]


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
        assert peer[0][-1] == [] and module[0][-1] == module[2][-1] == [("KestrovaGUI.FormB.__init__", listed_line("KestrovaGUI.FormB.__init__", "wx.StaticText("))]
        module = [item[:-1] if isinstance(item, tuple) else item for item in module]
        peer = [item[:-1] if isinstance(item, tuple) else item for item in peer]
        assert module[0][0] is ModuleNotFoundError and module[1] == "lazy_import"
    else:
        assert module[1] == module[3] == "resolved and rebound"
    assert module == peer
