"""The nine input forms."""

import pytest
from conftest import calls, listed_line, module_entries

TIF = "TIF Image (*.tif)|*.tif|All files (*.*)|*.*"
PROJECTION = "WLD Projection (*.wld)|*.wld|PRJ Projection (*.prj)|*.prj|All files (*.*)|*.*"
CSV = "CSV(*.csv)|*.csv|All files (*.*)|*.*"

# class: (wildcard, takes PosLeft, class line)
FILE_FORMS = {
    "FormA": (TIF, False, 67),
    "FormFolderTIF": (TIF, True, 88),
    "FormFolderProjection": (PROJECTION, True, 109),
    "FormFolderCSV": (CSV, True, 130),
    "FormA2": (TIF, False, 160),
    "FormC": (CSV, False, 181),
}
TEXT_FORMS = {"FormText": (True, 151), "FormB": (False, 203), "FormB2": (False, 212)}


def make_file_form(K, name, status, panel, width=200, left=300, top=50, info="Input"):
    takes_left = FILE_FORMS[name][1]
    args = (status, info, width) + ((left,) if takes_left else ()) + (top, panel)
    return getattr(K, name)(*args)


def geometry(panel):
    return [(type(w).__name__, tuple(w.GetPosition()), tuple(w.GetSize())) for w in panel.GetChildren()]


CAPTION = None  # the toolkit sizes captions to their text

# (class, arguments after the panel-less parameters, expected (position, size) per widget)
GEOMETRY = [
    ("FormA", ("OpenFile", "Cap", 200, 50), [(15, 28), ((15, 50), (200, 20)), ((225, 50), (40, 20))]),
    ("FormA", ("OpenFile", "Cap", 0, 10), [(15, -12), ((15, 10), (0, 20)), ((25, 10), (40, 20))]),
    ("FormC", ("SaveFile", "Cap", 120, 300), [(15, 278), ((15, 300), (120, 20)), ((145, 300), (40, 20))]),
    ("FormFolderTIF", ("OpenFile", "Cap", 200, 300, 50),
     [(300, 28), ((300, 50), (200, 20)), ((515, 50), (40, 20))]),
    ("FormFolderTIF", ("OpenFile", "Cap", 200, 15, 50),
     [(15, 28), ((15, 50), (200, 20)), ((230, 50), (40, 20))]),
    ("FormFolderCSV", ("OpenFile", "Cap", 150, 0, 5), [(0, -17), ((0, 5), (150, 20)), ((165, 5), (40, 20))]),
    ("FormText", ("Cap", 180, 200, 50), [(200, 28), ((200, 50), (180, 20))]),
    ("FormB", ("Cap", 90, 60), [(15, 38), ((15, 60), (90, 20))]),
    ("FormB2", ("Cap", 100, 100), [(15, 78), ((580, 100), (100, 20))]),
]


@pytest.mark.parametrize("name, args, expected", GEOMETRY)
def test_geometry(K, panel, name, args, expected):
    form = getattr(K, name)(*args, panel)
    laid_out = geometry(panel)
    kinds = ["StaticText", "TextCtrl", "GenButton"][: len(expected)]
    assert [w[0] for w in laid_out] == kinds
    assert laid_out[0][1] == expected[0]
    assert [(w[1], w[2]) for w in laid_out[1:]] == expected[1:]
    assert list(vars(form)) == ["entryOpenFile"]
    assert form.entryOpenFile is panel.GetChildren()[1]
    assert form.entryOpenFile.GetValue() == ""


@pytest.mark.parametrize("name", sorted(FILE_FORMS) + sorted(TEXT_FORMS))
def test_entry_look(K, panel, name):
    import wx

    if name in FILE_FORMS:
        form = make_file_form(K, name, "OpenFile", panel)
    else:
        args = ("", 100) + ((30,) if TEXT_FORMS[name][0] else ()) + (40, panel)
        form = getattr(K, name)(*args)
    caption, entry = list(panel.GetChildren())[:2]
    font = entry.GetFont()
    assert (font.GetFaceName(), font.GetPointSize()) == ("Verdana", 9)
    assert entry.GetForegroundColour().Get(False) == (255, 255, 255)
    assert entry.GetBackgroundColour().Get(False) == (50, 50, 50)
    assert caption.GetForegroundColour() == wx.Colour("GREY")
    assert entry.GetWindowStyleFlag() & wx.BORDER
    assert entry is form.entryOpenFile


def test_file_form_calls(K, stub_wx):
    panel = stub_wx.Panel()
    K.FormA("OpenFile", "Cap", 200, 50, panel)
    handler = "FormA.__init__.<locals>.filedialog"
    assert calls(stub_wx)[1:] == [
        "StaticText1 = StaticText(Panel1, -1, 'Cap', pos=(15, 28))",
        "TextCtrl1 = TextCtrl(Panel1, -1, size=(200, 20), pos=(15, 50), style=33554432)",
        "Font1 = Font(9, 70, 90, 90, False, 'Verdana')",
        "TextCtrl1.SetFont(Font1)",
        "TextCtrl1.SetForegroundColour('WHITE')",
        "TextCtrl1.SetBackgroundColour((50, 50, 50))",
        "StaticText1.SetForegroundColour('GREY')",
        "GenButton1 = GenButton(Panel1, -1, '...', (225, 50), (40, 20))",
        "GenButton1.Bind('EVT_BUTTON', %s)" % handler,
        "GenButton1.SetBezelWidth(0)",
        "GenButton1.SetBackgroundColour((54, 54, 63))",
        "GenButton1.SetForegroundColour((255, 255, 255))",
        "GenButton1.Bind('EVT_ENTER_WINDOW', tombol.OnMouseEnter3)",
        "GenButton1.Bind('EVT_LEAVE_WINDOW', tombol.OnMouseLeave3)",
    ]


@pytest.mark.parametrize("name", sorted(TEXT_FORMS))
def test_text_form_calls(K, stub_wx, name):
    panel = stub_wx.Panel()
    takes_left = TEXT_FORMS[name][0]
    getattr(K, name)(*(("Cap", 70) + ((9,) if takes_left else ()) + (40, panel)))
    x_caption, x_text = {"FormText": (9, 9), "FormB": (15, 15), "FormB2": (15, 580)}[name]
    assert calls(stub_wx)[1:] == [
        "StaticText1 = StaticText(Panel1, -1, 'Cap', pos=(%d, 18))" % x_caption,
        "TextCtrl1 = TextCtrl(Panel1, -1, size=(70, 20), pos=(%d, 40), style=33554432)" % x_text,
        "Font1 = Font(9, 70, 90, 90, False, 'Verdana')",
        "TextCtrl1.SetFont(Font1)",
        "TextCtrl1.SetForegroundColour('WHITE')",
        "TextCtrl1.SetBackgroundColour((50, 50, 50))",
        "StaticText1.SetForegroundColour('GREY')",
    ]


def press(stub):
    """Runs the handler the form bound to its browse button, as a press would."""
    (handler,) = [args[1] for label, name, args, kwargs in stub.log
                  if name == "Bind" and args[0] == "EVT_BUTTON"]
    stub.reset()
    return handler("press event")


@pytest.mark.parametrize("name", sorted(FILE_FORMS))
@pytest.mark.parametrize("status, message, style", [("OpenFile", "Choose a file", 1), ("SaveFile", "Create a file", 6)])
def test_dialog_arguments(K, stub_wx, name, status, message, style):
    form = make_file_form(K, name, status, stub_wx.Panel())
    assert press(stub_wx) is None
    assert calls(stub_wx) == [
        "FileDialog1 = FileDialog(None, %r, 'SETDIREKTORI', '', %r, %d)" % (message, FILE_FORMS[name][0], style),
        "FileDialog1.ShowModal()",
        "FileDialog1.GetPath()",
        "TextCtrl1.SetValue('/chosen/file.tif')",
        "FileDialog1.Destroy()",
    ]
    assert form.entryOpenFile.label == "TextCtrl1"


def test_cancelled_dialog_is_destroyed_and_text_kept(K, stub_wx):
    K.FormFolderProjection("OpenFile", "Cap", 100, 0, 30, stub_wx.Panel())
    stub_wx.FileDialog.modal_result = 5101  # ID_CANCEL
    press(stub_wx)
    assert calls(stub_wx)[1:] == ["FileDialog1.ShowModal()", "FileDialog1.Destroy()"]


def test_path_goes_to_the_current_entry(K, stub_wx):
    form = K.FormC("SaveFile", "Cap", 100, 30, stub_wx.Panel())
    form.entryOpenFile = stub_wx.TextCtrl()
    press(stub_wx)
    assert "TextCtrl2.SetValue('/chosen/file.tif')" in calls(stub_wx)


@pytest.mark.parametrize("status", ["openfile", "SAVEFILE", "", None])
def test_unknown_status_fails_at_the_press(K, stub_wx, status):
    K.FormA2(status, "Cap", 100, 30, stub_wx.Panel())  # accepted at construction
    with pytest.raises(UnboundLocalError, match=r"^local variable 'dialog' referenced before assignment$") as caught:
        press(stub_wx)
    assert calls(stub_wx) == []
    name, line = module_entries(caught.tb)[-1]
    assert name == "KestrovaGUI.FormA2.__init__.filedialog" and line > 162


def test_handler_is_made_per_form(K, stub_wx):
    panel = stub_wx.Panel()
    K.FormA("OpenFile", "a", 10, 30, panel)
    K.FormA("SaveFile", "b", 10, 60, panel)
    first, second = [args[1] for label, name, args, kwargs in stub_wx.log
                     if name == "Bind" and args[0] == "EVT_BUTTON"]
    assert first is not second
    assert first.__code__ is second.__code__
    assert [c.cell_contents for c in first.__closure__][0] == "OpenFile"
    assert [c.cell_contents for c in second.__closure__][0] == "SaveFile"


def test_text_top_fails_before_any_widget(K, panel):
    with pytest.raises(TypeError, match="unsupported operand"):
        K.FormB("Cap", 100, "50", panel)
    assert list(panel.GetChildren()) == []


def test_toolkit_error_passes_through_and_keeps_earlier_widgets(K, stub_wx):
    failure = RuntimeError("no more text controls")

    def broken(*args, **kwargs):
        raise failure

    stub_wx.TextCtrl = broken
    with pytest.raises(RuntimeError) as caught:
        K.FormFolderCSV("OpenFile", "Cap", 100, 10, 30, stub_wx.Panel())
    assert caught.value is failure
    assert calls(stub_wx)[1:] == ["StaticText1 = StaticText(Panel1, -1, 'Cap', pos=(10, 8))"]
    name = "KestrovaGUI.FormFolderCSV.__init__"
    assert module_entries(caught.tb) == [(name, listed_line(name, "wx.TextCtrl("))]


def test_toolkit_error_inside_handler(K, stub_wx):
    K.FormA("OpenFile", "Cap", 100, 30, stub_wx.Panel())

    def broken(self):
        raise ValueError("cannot show")

    stub_wx.FileDialog.ShowModal = broken
    with pytest.raises(ValueError, match="cannot show") as caught:
        press(stub_wx)
    name = "KestrovaGUI.FormA.__init__.filedialog"
    assert module_entries(caught.tb) == [(name, listed_line(name, "dialog.ShowModal()"))]


@pytest.fixture
def press_real(K):
    """Presses a form's browse button for real and answers the modal dialog from inside
    its event loop, as a user would: picks the file, then confirms (or cancels)."""
    import wx
    from gtk_windows import choose, file_dialogs, respond

    def run(form, path=None, name=None):
        buttons = [w for w in form.entryOpenFile.GetParent().GetChildren()
                   if type(w).__name__ == "GenButton"]
        confirm = path is not None or name is not None
        ticks = []

        def answer():
            dialogs = file_dialogs()
            if not dialogs:
                return  # closed
            ticks.append(len(dialogs))
            if len(ticks) == 1:
                choose(dialogs[0], path, name)  # the chooser loads the folder meanwhile
            elif len(ticks) < 50:
                respond(dialogs[0], confirm)
            else:
                respond(dialogs[0], False)  # give up rather than hang
            timer.Start(100)

        timer = wx.CallLater(200, answer)
        event = wx.CommandEvent(wx.wxEVT_BUTTON, buttons[-1].GetId())
        event.SetEventObject(buttons[-1])
        buttons[-1].GetEventHandler().ProcessEvent(event)
        timer.Stop()
        for _ in range(5):
            wx.GetApp().ProcessPendingEvents()
            wx.GetApp().Yield(True)
        assert ticks and max(ticks) == 1 and len(ticks) < 50
        assert file_dialogs() == []  # no dialog is left behind

    return run


def test_real_dialog_confirmed_and_cancelled(K, panel, press_real, tmp_path):
    chosen = tmp_path / "scene.tif"
    chosen.write_bytes(b"")
    form = K.FormFolderTIF("OpenFile", "Input", 200, 15, 40, panel)
    form.entryOpenFile.SetValue("typed by the user")
    for _ in range(3):
        press_real(form)
        assert form.entryOpenFile.GetValue() == "typed by the user"
    press_real(form, path=chosen)
    assert form.entryOpenFile.GetValue() == str(chosen)


def test_real_save_dialog(K, panel, press_real, tmp_path, monkeypatch):
    form = K.FormC("SaveFile", "Output", 200, 40, panel)
    press_real(form, name="table.csv")
    assert form.entryOpenFile.GetValue().endswith("table.csv")


class Term:
    """A number-like value that spells out the arithmetic done on it."""

    def __init__(self, text):
        self.text = text

    def __add__(self, other):
        return Term("(%s+%r)" % (self.text, other))

    def __sub__(self, other):
        return Term("(%s-%r)" % (self.text, other))

    def __repr__(self):
        return self.text


@pytest.mark.parametrize("name, args, caption, text, button", [
    ("FormA", ("W", "T"), "(15, (T-22))", "(15, T)", "((W+25), T)"),
    ("FormFolderTIF", ("W", "L", "T"), "(L, (T-22))", "(L, T)", "(((L+W)+15), T)"),
    ("FormText", ("W", "L", "T"), "(L, (T-22))", "(L, T)", None),
    ("FormB2", ("W", "T"), "(15, (T-22))", "(580, T)", None),
])
def test_geometry_uses_the_callers_own_arithmetic(K, stub_wx, name, args, caption, text, button):
    terms = [Term(a) for a in args]
    status = ("OpenFile",) if name in FILE_FORMS else ()
    getattr(K, name)(*status, "Cap", *terms, stub_wx.Panel())
    log = {label: (args, kwargs) for label, name, args, kwargs in stub_wx.log
           if label.rstrip("0123456789") == name}  # constructions
    assert repr(log["StaticText1"][1]["pos"]) == caption
    assert repr(log["TextCtrl1"][1]["pos"]) == text and repr(log["TextCtrl1"][1]["size"]) == "(W, 20)"
    if button:
        assert repr(log["GenButton1"][0][3]) == button
