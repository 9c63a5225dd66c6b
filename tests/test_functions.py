"""The native function objects: introspection, binding, argument errors, traceback
entries and name lookup."""

import builtins
import copy
import inspect
import pickle
import types

import pytest
from conftest import calls, listed_line, module_entries
from public_api import CALLABLES, FILE_MARGIN

# qualified name: (parameters, definition line), for the functions the module binds
FUNCTIONS = {name: (c.parameters, c.line) for name, c in CALLABLES.items() if "<locals>" not in name}


def resolve(K, qualname):
    value = K
    for part in qualname.split("."):
        value = getattr(value, part)
    return value


@pytest.mark.parametrize("qualname", sorted(FUNCTIONS))
def test_function_attributes(K, qualname):
    parameters, line = FUNCTIONS[qualname]
    function = resolve(K, qualname)
    name = qualname.rsplit(".", 1)[-1]
    assert (function.__name__, function.__qualname__, function.__module__) == (name, qualname, "KestrovaGUI")
    assert type(function).__module__ == "KestrovaGUI" and "__module__" not in vars(function)
    assert function.__doc__ is None and function.__defaults__ is None and function.__kwdefaults__ is None
    assert function.__globals__ is vars(K)
    code = function.__code__
    assert (code.co_filename, code.co_name, code.co_firstlineno) == ("KestrovaGUI", name, line)
    assert code.co_argcount == len(parameters) and code.co_varnames[: len(parameters)] == parameters
    signature = inspect.signature(function)
    assert tuple(signature.parameters) == parameters
    assert all(p.default is p.empty and p.kind is p.POSITIONAL_OR_KEYWORD for p in signature.parameters.values())

    def python_function():
        pass

    # Whatever this interpreter's functions have (__type_params__, __annotate__...), these have.
    assert set(dir(python_function)) <= set(dir(function))
    for attribute in ("__type_params__", "__annotate__"):
        assert getattr(function, attribute, "absent") == getattr(python_function, attribute, "absent")


def test_methods_bind_like_functions(K):
    button = K.tombol()
    bound = button.btnconfig
    assert isinstance(bound, types.MethodType)
    assert bound.__self__ is button and bound.__func__ is K.tombol.__dict__["btnconfig"]
    assert K.tombol.btnconfig is K.tombol.__dict__["btnconfig"]
    assert tuple(inspect.signature(bound).parameters) == FUNCTIONS["tombol.btnconfig"][0][1:]
    assert tuple(inspect.signature(K.FormA).parameters) == FILE_MARGIN[1:]
    assert "FormA.__init__" in repr(K.FormA.__init__)


def test_classes(K):
    for name in ["FormA", "FormFolderTIF", "FormFolderProjection", "FormFolderCSV", "FormText",
                 "FormA2", "FormC", "FormB", "FormB2", "tombol"]:
        cls = getattr(K, name)
        assert type(cls) is type and cls.__bases__ == (object,)
        assert (cls.__module__, cls.__qualname__, cls.__doc__) == ("KestrovaGUI", name, None)
    methods = [n for n, v in vars(K.tombol).items() if not n.startswith("__")]
    assert methods == ["btnconfig"] + ["OnMouse%s%d" % (kind, n) for n in (0, 2, 1, 3, 4, 5)
                                       for kind in ("Enter", "Leave")]

    class Custom(K.FormB):  # classes are open to subclassing
        pass

    assert issubclass(Custom, K.FormB)
    assert not vars(K.tombol())


ARGUMENT_ERRORS = [
    ("showImage", (1,), {}, "showImage() takes exactly 3 positional arguments (1 given)"),
    ("showImage", (1, 2, 3, 4), {}, "showImage() takes exactly 3 positional arguments (4 given)"),
    ("showImage", (1, 2, 3, 4), {"pos": 1}, "showImage() takes exactly 3 positional arguments (4 given)"),
    ("showImage", (1,), {"pos": 3}, "showImage() takes exactly 3 positional arguments (1 given)"),
    ("showImage", (), {"parent": 1, "pos": 2, "urlfileimage": 3, "url": 4},
     "showImage() got an unexpected keyword argument 'url'"),
    ("icon", (1, 2), {"tipe": 3}, "icon() got multiple values for keyword argument 'tipe'"),
    ("icon", (1,), {"tipe": 3, "parent": 2}, "icon() got multiple values for keyword argument 'parent'"),
    ("icon", (), {"parent": 1, "tipe": 2, "x": 3}, "icon() got an unexpected keyword argument 'x'"),
    ("garis", (1,), {}, "garis() takes no arguments (1 given)"),
    ("garis", (), {"x": 1}, "garis() takes no keyword arguments"),
    ("FormA.__init__", (None, 1, 2, 3, 4, 5), {"Info": 2}, "__init__() got multiple values for keyword argument 'Info'"),
    ("tombol.OnMouseEnter3", (None,), {}, "OnMouseEnter3() takes exactly 2 positional arguments (1 given)"),
]


@pytest.mark.parametrize("qualname, args, kwargs, message", ARGUMENT_ERRORS)
def test_argument_errors(K, qualname, args, kwargs, message):
    function = resolve(K, qualname)
    with pytest.raises(TypeError) as caught:
        function(*args, **kwargs)
    assert str(caught.value) == message
    expected = [] if qualname == "garis" else [("KestrovaGUI." + qualname, FUNCTIONS[qualname][1])]
    assert module_entries(caught.tb) == expected


def test_argument_errors_through_the_class_and_the_call_slot(K):
    with pytest.raises(TypeError, match=r"^__init__\(\) takes exactly 5 positional arguments \(2 given\)$"):
        K.FormB(1)
    with pytest.raises(TypeError):
        K.tombol(1)
    # The slot wrapper hands over the keyword dictionary as it is, non-string keys included.
    with pytest.raises(TypeError, match=r"^icon\(\) keywords must be strings$"):
        type(K.icon).__call__(K.icon, 1, 2, **{1: 2})


def test_a_body_that_empties_the_callers_keyword_dictionary(K, stub_wx):
    """A caller that passes its own dictionary (the C API's PyObject_Call, which takes the
    call slot where there is no vectorcall): the body still has what it was given after
    code it runs has emptied the dictionary, and dropped the only other reference to it."""
    import ctypes

    seen = []

    class Kind(int):
        __hash__ = int.__hash__

        def __eq__(self, other):
            kwargs.clear()
            seen.append(other)
            return int.__eq__(self, other)

    kwargs = {"tipe": Kind(2)}
    call = ctypes.pythonapi.PyObject_Call
    call.restype, call.argtypes = ctypes.py_object, [ctypes.py_object] * 3
    assert call(K.icon, (stub_wx.Frame(),), kwargs) is None
    assert seen == [1, 2] and kwargs == {}
    assert calls(stub_wx)[-1] == "Frame1.SetIcon(Icon1)"


@pytest.mark.parametrize("qualname", ["showImage", "garis", "FormA.__init__", "tombol.OnMouseLeave5"])
def test_functions_copy_and_pickle_by_name(K, qualname):
    function = resolve(K, qualname)
    assert copy.copy(function) is function and copy.deepcopy({"cb": [function]})["cb"][0] is function
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        assert pickle.loads(pickle.dumps(function, protocol)) is function


def inner_handler(K, stub_wx, status="OpenFile"):
    K.FormFolderCSV(status, "Cap", 10, 20, 30, stub_wx.Panel())
    return [args[1] for label, name, args, kwargs in stub_wx.log if name == "Bind" and args[0] == "EVT_BUTTON"][-1]


def test_inner_handler(K, stub_wx):
    handler = inner_handler(K, stub_wx)
    assert handler.__name__ == "filedialog"
    assert handler.__qualname__ == "FormFolderCSV.__init__.<locals>.filedialog"
    assert handler.__code__.co_firstlineno == 132 and handler.__code__.co_freevars == ("FileDialogStatus", "self")
    assert "filedialog" not in vars(K)
    # What introspection shows agrees with what a call accepts, on every interpreter.
    (parameter,) = inspect.signature(handler).parameters.values()
    assert (parameter.name, parameter.kind, parameter.default) == ("event", parameter.POSITIONAL_ONLY, parameter.empty)
    for args, kwargs, message in [((), {}, "filedialog() takes exactly one argument (0 given)"),
                                  ((1, 2), {}, "filedialog() takes exactly one argument (2 given)"),
                                  ((1,), {"event": 1}, "filedialog() takes no keyword arguments")]:
        with pytest.raises(TypeError) as caught:
            handler(*args, **kwargs)
        assert str(caught.value) == message and module_entries(caught.tb) == []

    # Like a Python function made inside a call, it copies as itself and does not pickle.
    def local():
        pass

    assert copy.copy(handler) is handler and copy.deepcopy(handler) is handler
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        with pytest.raises(Exception) as expected:
            pickle.dumps(local, protocol)
        with pytest.raises(type(expected.value)) as caught:
            pickle.dumps(handler, protocol)
        # The refusal names the object: by its qualified name, and from 3.14 on by its repr,
        # whose address differs; the handler's own repr must stand where the local's does.
        assert str(caught.value) == str(expected.value).replace(repr(local), repr(handler)).replace(
            local.__qualname__, handler.__qualname__)


class NotADict:
    pass


@pytest.mark.parametrize("attribute, value", [
    ("__name__", "renamed"), ("__name__", None), ("__qualname__", "Other.renamed"), ("__qualname__", 1),
    ("__doc__", "Text."), ("__module__", "elsewhere"), ("__annotations__", {"event": int}),
    ("__annotations__", 1), ("__annotations__", None), ("__type_params__", (int,)), ("__type_params__", [int]),
    ("__annotate__", None), ("__annotate__", lambda format: {"event": format}), ("__annotate__", lambda format: NotADict()),
    ("__annotate__", 1)])
def test_attributes_assign_as_those_of_python_functions(K, stub_wx, attribute, value):
    def outcome(function):
        """Assigning, reading back (twice), deleting and reading back, and the annotations after each."""
        results = []
        for change in (lambda: setattr(function, attribute, value), lambda: delattr(function, attribute)):
            try:
                change()
                results.append((getattr(function, attribute), getattr(function, attribute) is getattr(function, attribute)))
            except (TypeError, AttributeError) as error:  # (the type names differ in an AttributeError)
                results.append(str(error) if isinstance(error, TypeError) else "AttributeError")
                continue
            try:
                results.append(function.__annotations__)
            except TypeError as error:
                results.append(str(error))
        return results

    def python_function(event):
        pass

    handler = inner_handler(K, stub_wx, "neither mode")
    assert outcome(handler) == outcome(python_function)
    # Argument errors and traceback entries keep the names the function is defined with.
    with pytest.raises(TypeError, match=r"^filedialog\(\) takes exactly one argument \(0 given\)$"):
        handler()
    with pytest.raises(UnboundLocalError) as caught:
        handler(None)
    name = "KestrovaGUI.FormFolderCSV.__init__.filedialog"
    assert module_entries(caught.tb) == [(name, listed_line(name, "dialog.ShowModal()"))]


def test_name_lookup_module_then_builtins(K, stub_wx, monkeypatch):
    monkeypatch.delattr(K, "wx")
    with pytest.raises(NameError, match=r"^name 'wx' is not defined$") as caught:
        K.FormB("Cap", 10, 30, stub_wx.Panel())
    assert module_entries(caught.tb) == [("KestrovaGUI.FormB.__init__", listed_line("KestrovaGUI.FormB.__init__", "wx.StaticText("))]
    monkeypatch.setattr(builtins, "wx", stub_wx, raising=False)
    K.FormB("Cap", 10, 30, stub_wx.Panel())
    assert any(name == "TextCtrl" for _, name, _, _ in stub_wx.log)


def test_rebinding_takes_effect_at_the_next_statement(K, stub_wx, monkeypatch):
    from conftest import load_stub_toolkit

    other = load_stub_toolkit()

    class SwitchingStaticText(stub_wx.StaticText):
        def __init__(self, *args, **kwargs):
            super().__init__(*args, **kwargs)
            K.wx = other  # the module's next statement must see this

    monkeypatch.setattr(stub_wx, "StaticText", SwitchingStaticText)
    form = K.FormText("Cap", 10, 5, 30, stub_wx.Panel())
    # Only the caption came from the first toolkit (its GREY is set on the caption itself).
    assert [name for _, name, _, _ in stub_wx.log] == ["Panel", "SwitchingStaticText", "SetForegroundColour"]
    assert type(form.entryOpenFile) is other.TextCtrl
    monkeypatch.setattr(other, "BORDER", 7)
    K.FormB("Cap", 10, 30, stub_wx.Panel())  # attributes are read afresh at each use
    assert [kwargs["style"] for _, name, _, kwargs in other.log if name == "TextCtrl"] == [33554432, 7]
