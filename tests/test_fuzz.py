"""Argument fuzzing. Random positional and keyword arguments, odd values among them, for
every callable, through every way of calling it: the outcome is either success or a
Python exception. An argument error must carry exactly the message that the oracle below
computes from the argument-error rules, with the right traceback entry, before anything
has been done; any other failure must come from the body, after the definition line."""

import collections
import os

import pytest
from conftest import load_stub_toolkit, module_entries
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from public_api import CALLABLES, CLASSES

# Examples per toolkit; the run under the sanitizers, several times slower, takes fewer.
EXAMPLES = int(os.environ.get("KESTROVA_FUZZ_EXAMPLES", "1500"))


class Boom(Exception):
    """Raised by the odd values below; each instance is raised once."""


RAISED = []


def boom(what):
    error = Boom(what)
    RAISED.append(error)
    raise error


class EqualityRaises:
    def __eq__(self, other):
        boom("__eq__")

    __hash__ = object.__hash__


class ArithmeticRaises:
    def __add__(self, other):
        boom("__add__")

    def __sub__(self, other):
        boom("__sub__")

    __radd__, __rsub__ = __add__, __sub__


class Untruthful:
    def __bool__(self):
        boom("__bool__")


class EqualityUntruthful:
    """Compares to an object whose truth cannot be told."""

    def __eq__(self, other):
        return Untruthful()

    __hash__ = object.__hash__


class Name(str):
    """A keyword name of a subclass of str."""


# Objects of the toolkit are made once the toolkit is up; strategies name them.
WINDOWS = {}

scalars = st.one_of(
    st.none(), st.booleans(), st.integers(-50, 400),
    st.sampled_from([2 ** 63, -2 ** 64, 10 ** 40, -(10 ** 100)]),
    st.floats(-1000, 1000), st.sampled_from([float("nan"), float("inf"), -0.0]),
    st.text(max_size=6), st.sampled_from(["OpenFile", "SaveFile", "", "Cap", "\ud800", "a\x00b"]),
    st.binary(max_size=6),
    st.builds(EqualityRaises), st.builds(ArithmeticRaises), st.builds(EqualityUntruthful),
    st.sampled_from(["live panel", "destroyed panel"]).map(lambda name: WINDOWS[name]),
)
values = st.recursive(scalars, lambda inner: st.tuples(inner, inner) | st.lists(inner, max_size=3).map(tuple),
                      max_leaves=5)


def keys_for(parameters):
    names = st.sampled_from(list(parameters) + ["self", "x", "event", "Lebarform"]) if parameters else \
        st.sampled_from(["x", "event"])
    return st.one_of(
        names, names, names.map(Name), st.text(max_size=4), st.sampled_from(["\ud800", "a\x00b", "k" * 300]),
        st.integers(-3, 3), st.none(), st.binary(max_size=3), st.tuples(st.integers(0, 2)),
    )


# ---------------------------------------------------------------------------------------
# The oracle


def argument_error(function, args, kwargs, path):
    """The message of the argument error that a call of `function` raises, or None if its
    arguments bind. `args` holds the instance too, for methods. On every path but the
    type's call slot the interpreter refuses keys that are not strings before the
    function sees them."""
    name = function.name
    if path != "slot" and any(not isinstance(key, str) for key in kwargs):
        return "keywords must be strings"
    if function.form in ("none", "one"):
        if kwargs:
            return "%s() takes no keyword arguments" % name
        if function.form == "none" and args:
            return "%s() takes no arguments (%d given)" % (name, len(args))
        if function.form == "one" and len(args) != 1:
            return "%s() takes exactly one argument (%d given)" % (name, len(args))
        return None
    n, given = len(function.parameters), len(args)
    wrong_count = "%s() takes exactly %d positional argument%s (%d given)" % (name, n, "" if n == 1 else "s", given)
    # Check 1: the number of positional arguments.
    if given > n or (not kwargs and given != n):
        return wrong_count
    if not kwargs:
        return None

    def names(key, parameter):
        return isinstance(key, str) and str.__eq__(key, parameter)

    # Check 2: a parameter that neither a position nor a keyword fills.
    for parameter in function.parameters[given:]:
        if not any(names(key, parameter) for key in kwargs):
            return wrong_count
    # Check 3: the keywords in the order given.
    for key in kwargs:
        if not isinstance(key, str):
            return "%s() keywords must be strings" % name
        index = next((i for i, p in enumerate(function.parameters) if names(key, p)), None)
        text = str.__str__(key)
        if index is None:
            return "%s() got an unexpected keyword argument '%s'" % (name, text)
        if index < given:
            return "%s() got multiple values for keyword argument '%s'" % (name, text)
    return None


def merge_error(function_text, first, second):
    """The interpreter's error for f(**first, **second) when they share a key."""
    for key in second:
        if key in first:
            return "%s got multiple values for keyword argument '%s'" % (function_text, key)
    return None


# ---------------------------------------------------------------------------------------
# Calls


@pytest.fixture(scope="module")
def windows(wx_app):
    import wx

    frame = wx.Frame(None)  # never shown: nothing is painted
    live = wx.Panel(frame)
    destroyed = wx.Panel(frame)
    destroyed.Destroy()
    WINDOWS.update({"live panel": live, "destroyed panel": destroyed})
    quiet = wx.LogNull()  # missing image and icon files are no news here
    yield live
    del quiet
    WINDOWS.clear()
    frame.Destroy()


@pytest.fixture(scope="module")
def toolkits(K, windows):
    """Switches the module between the real toolkit and the stub; returns the stub."""
    stub = load_stub_toolkit()
    saved = K.wx, K.GenButton
    yield stub
    K.wx, K.GenButton = saved


def use(K, toolkit, stub):
    import wx
    from wx.lib.buttons import GenButton

    if toolkit == "stub":
        K.wx, K.GenButton = stub, stub.GenButton
    else:
        K.wx, K.GenButton = wx, GenButton


def handler_of(K, stub, form, status):
    """The inner file-dialog handler of a new form (made with the stub toolkit)."""
    parameters = CLASSES[form][1][1:]
    values = {"FileDialogStatus": status, "Info": "Cap", "LebarForm": 10, "PosLeft": 5, "PosTinggi": 30,
              "TargetPanel": stub.Panel()}
    saved = K.wx, K.GenButton
    K.wx, K.GenButton = stub, stub.GenButton
    stub.reset()
    try:
        getattr(K, form)(*[values[p] for p in parameters])
    finally:
        K.wx, K.GenButton = saved
    (handler,) = [args[1] for _, method, args, _ in stub.log if method == "Bind" and args[0] == "EVT_BUTTON"]
    return handler


CALL_NAMES = sorted(CALLABLES) + ["tombol"]
SEEN = collections.Counter()  # outcomes, and (callable, path, outcome) drawn


def draw_arguments(data, parameters):
    """Either any positional arguments and keywords, or a well-formed set: the first
    parameters by position and the others by name, in any order."""
    if data.draw(st.booleans(), label="well formed"):
        split = data.draw(st.integers(0, len(parameters)), label="by position")
        args = data.draw(st.lists(values, min_size=split, max_size=split), label="positional")
        names = data.draw(st.permutations(parameters[split:]), label="keyword order")
        return args, {name: data.draw(values, label=name) for name in names}
    count = data.draw(st.integers(0, len(parameters) + 2), label="positional count")
    args = data.draw(st.lists(values, min_size=count, max_size=count), label="positional")
    kwargs = data.draw(st.dictionaries(keys_for(parameters), values, max_size=len(parameters) + 2), label="keywords")
    return args, kwargs


def draw_call(data, K, stub, toolkit, qualname=None):
    """Draws a callable (unless given), a way to call it and its arguments. Returns the
    call, the function whose arguments are checked (None for the class tombol), the
    arguments as that function sees them, the keywords, the path and the interpreter's
    merge error."""
    if qualname is None:
        qualname = data.draw(st.sampled_from(CALL_NAMES), label="callable")
    if ".<locals>." in qualname and toolkit != "stub":
        # Pressing for real would open a modal dialog; handlers run with the stub toolkit.
        qualname = "garis"
    function = CALLABLES.get(qualname)

    if qualname == "tombol":
        args, kwargs = draw_arguments(data, ())
        return (lambda: K.tombol(*args, **kwargs)), None, args, kwargs, "class", None
    if ".<locals>." in qualname:
        form = qualname.split(".")[0]
        status = data.draw(st.sampled_from(["OpenFile", "SaveFile", "other"]), label="status")
        target = handler_of(K, stub, form, status)
        paths = ["call", "slot"]
    elif qualname.startswith("tombol."):
        target = getattr(K.tombol, qualname.split(".")[1])
        paths = ["call", "slot", "bound"]
    elif qualname.endswith(".__init__"):
        target = getattr(K, qualname.split(".")[0]).__init__
        paths = ["call", "slot", "class"]
    else:
        target = getattr(K, qualname)
        paths = ["call", "slot"]
    path = data.draw(st.sampled_from(paths), label="path")
    implicit_self = path in ("bound", "class")
    args, kwargs = draw_arguments(data, function.parameters[1:] if implicit_self else function.parameters)

    if path == "slot":
        return (lambda: type(target).__call__(target, *args, **kwargs)), function, args, kwargs, path, None
    if path == "call":
        # Sometimes the keywords come in two dictionaries, which may name a key twice.
        split = data.draw(st.integers(0, len(kwargs)), label="split")
        items = list(kwargs.items())
        first = dict(items[:split])
        second = dict(data.draw(st.sampled_from([items[split:], items[split:] + items[:1]]), label="second"))
        error = merge_error("KestrovaGUI.%s()" % qualname, first, second)
        return (lambda: target(*args, **first, **second)), function, args, {**first, **second}, path, error
    if path == "bound":
        button = K.tombol()
        if data.draw(st.booleans(), label="configured"):
            parent = stub.Panel() if toolkit == "stub" else WINDOWS["live panel"]
            button.btnconfig(parent, "Go", (1, 2), (30, 20), 3, print)
        method = getattr(button, qualname.split(".")[1])
        return (lambda: method(*args, **kwargs)), function, [button] + args, kwargs, path, None
    form_class = getattr(K, qualname.split(".")[0])
    return (lambda: form_class(*args, **kwargs)), function, [None] + args, kwargs, "class", None


HEALTH = [HealthCheck.function_scoped_fixture, HealthCheck.too_slow, HealthCheck.data_too_large,
          HealthCheck.filter_too_much]


@settings(max_examples=EXAMPLES, deadline=None, database=None, suppress_health_check=HEALTH)
@given(data=st.data())
def check_random_calls(data, K, stub, toolkit, panel):
    check_one_call(data, K, stub, toolkit, panel)


@settings(max_examples=20, deadline=None, database=None, suppress_health_check=HEALTH)
@given(data=st.data())
def check_calls_of(data, K, stub, toolkit, panel, qualname):
    check_one_call(data, K, stub, toolkit, panel, qualname)


def check_one_call(data, K, stub, toolkit, panel, qualname=None):
    del RAISED[:]
    use(K, toolkit, stub)
    call, function, args, kwargs, path, merge = draw_call(data, K, stub, toolkit, qualname)
    stub.reset()
    before = len(panel.GetChildren())
    try:
        result, caught = call(), None
    except Exception as error:  # the module never raises anything but Exceptions here
        result, caught = None, error
    finally:
        use(K, "real", stub)
    made = len(panel.GetChildren()) - before
    if made:
        panel.DestroyChildren()

    if function is None:  # the class tombol, which takes nothing
        expected = "tombol() takes no arguments" if args or kwargs else None
    elif merge is not None:
        expected = merge
    else:
        expected = argument_error(function, args, kwargs, path)
    outcome = "argument error" if expected else "raised" if caught else "returned"
    SEEN[outcome] += 1
    SEEN[(function.qualname if function else "tombol", path, outcome)] += 1
    if expected is not None:
        assert type(caught) is TypeError and str(caught) == expected, (expected, caught)
        ours = function is not None and merge is None and not expected.startswith("keywords must")
        entry = [(function.traceback_name, function.line)] if ours and function.form == "parameters" else []
        assert module_entries(caught.__traceback__) == entry
        assert stub.log == [] and made == 0, "the body ran"
        return
    if caught is None:
        if path == "class":
            assert isinstance(result, getattr(K, function.qualname.split(".")[0] if function else "tombol"))
        else:
            assert result is None
        return
    if type(caught) is Boom:
        assert any(caught is raised for raised in RAISED)
    entries = module_entries(caught.__traceback__)
    assert entries, "%r left the module without its traceback entry" % caught
    name, line = entries[0]
    assert name == function.traceback_name and line > function.line, (caught, entries)


@pytest.mark.parametrize("toolkit", ["stub", "real"])
def test_random_calls(K, toolkits, windows, toolkit):
    SEEN.clear()
    check_random_calls(K=K, stub=toolkits, toolkit=toolkit, panel=windows)
    # Every callable is reached: the random draws rarely miss one, and then it gets a few
    # examples of its own.
    expected = set(CALL_NAMES) - (set() if toolkit == "stub" else {q for q in CALLABLES if ".<locals>." in q})
    for qualname in sorted(expected - {key[0] for key in SEEN if isinstance(key, tuple)}):
        check_calls_of(K=K, stub=toolkits, toolkit=toolkit, panel=windows, qualname=qualname)
    drawn = {key[0] for key in SEEN if isinstance(key, tuple)}
    assert drawn == expected
    assert min(SEEN["argument error"], SEEN["raised"], SEEN["returned"]) >= 20, SEEN
    print(toolkit, {k: v for k, v in SEEN.items() if not isinstance(k, tuple)})


@pytest.mark.parametrize("function, args, kwargs, path, message", [
    (CALLABLES["showImage"], (1,), {}, "call", "showImage() takes exactly 3 positional arguments (1 given)"),
    (CALLABLES["garis"], (1,), {}, "call", "garis() takes no arguments (1 given)"),
    (CALLABLES["icon"], (), {"parent": 1, "tipe": 2, "x": 3}, "call", "icon() got an unexpected keyword argument 'x'"),
    (CALLABLES["icon"], (1, 2), {1: 2}, "slot", "icon() keywords must be strings"),
    (CALLABLES["icon"], (1, 2, 3), {1: 2}, "slot", "icon() takes exactly 2 positional arguments (3 given)"),
    (CALLABLES["icon"], (1,), {"x": 1, "tipe": 2}, "slot", "icon() got an unexpected keyword argument 'x'"),
    (CALLABLES["icon"], (1,), {"parent": 1, "tipe": 2}, "call", "icon() got multiple values for keyword argument 'parent'"),
    (CALLABLES["FormA.__init__.<locals>.filedialog"], (1, 2), {}, "call", "filedialog() takes exactly one argument (2 given)"),
    (CALLABLES["tombol.OnMouseEnter1"], (1,), {"event": 2}, "call", None),
])
def test_oracle_follows_the_rules(function, args, kwargs, path, message):
    """The oracle against the examples that the rules spell out."""
    assert argument_error(function, args, kwargs, path) == message
