"""The hover button, the image, the icon and the separator."""

import builtins
import io
import sys
import types

import pytest
from conftest import calls, listed_line, module_entries

# btntype: rest (background, foreground), under the pointer, after the pointer has left
SCHEMES = {
    0: [((51, 51, 51), (230, 230, 230)), ((0, 190, 255), (250, 250, 250)), ((51, 51, 51), (250, 250, 250))],
    1: [((225, 225, 225), (100, 100, 100)), ((100, 100, 100), (250, 250, 250)), ((225, 225, 225), (100, 100, 100))],
    2: [((50, 50, 50), (220, 220, 220)), ((255, 191, 0), (50, 50, 50)), ((50, 50, 50), (250, 250, 250))],
    3: [((54, 54, 63), (255, 255, 255)), ((255, 191, 0), (255, 255, 255)), ((54, 54, 63), (255, 255, 255))],
    4: [((0, 204, 255), (255, 255, 255)), ((0, 170, 213), (255, 255, 255)), ((0, 204, 255), (255, 255, 255))],
    5: [((255, 153, 0), (255, 255, 255)), ((255, 120, 0), (255, 255, 255)), ((255, 153, 0), (255, 255, 255))],
}


def colours(button):
    return (button.GetBackgroundColour().Get(False), button.GetForegroundColour().Get(False))


def send(window, event_type):
    import wx

    if event_type == wx.wxEVT_BUTTON:
        event = wx.CommandEvent(event_type, window.GetId())
    else:
        event = wx.MouseEvent(event_type)
    event.SetEventObject(window)
    window.GetEventHandler().ProcessEvent(event)


def make_button(K, panel, btntype, target=lambda event: None):
    button = K.tombol()
    assert button.btnconfig(panel, "Go", (10, 20), (80, 30), btntype, target) is None
    return button


@pytest.mark.parametrize("btntype", sorted(SCHEMES))
def test_scheme_colours_follow_the_pointer(K, panel, btntype):
    import wx

    button = make_button(K, panel, btntype)
    rest, hover, left = SCHEMES[btntype]
    assert colours(button.btn) == rest
    send(button.btn, wx.wxEVT_ENTER_WINDOW)
    assert colours(button.btn) == hover
    send(button.btn, wx.wxEVT_LEAVE_WINDOW)
    assert colours(button.btn) == left
    assert button.btn.GetPosition() == (10, 20) and button.btn.GetSize() == (80, 30)
    assert button.btn.GetBezelWidth() == 0
    assert list(vars(button)) == ["btn"]


@pytest.mark.parametrize("btntype, scheme", [(True, 1), (False, 0), (3.0, 3)])
def test_scheme_is_chosen_by_equality(K, panel, btntype, scheme):
    assert colours(make_button(K, panel, btntype).btn) == SCHEMES[scheme][0]


@pytest.mark.parametrize("btntype", [6, -1, None, "3"])
def test_unknown_scheme_keeps_default_colours_and_still_presses(K, panel, btntype):
    import wx
    from wx.lib.buttons import GenButton

    plain = GenButton(panel, -1, "plain", (0, 0), (10, 10))
    pressed = []
    button = make_button(K, panel, btntype, pressed.append)
    assert colours(button.btn) == colours(plain)
    send(button.btn, wx.wxEVT_ENTER_WINDOW)
    assert colours(button.btn) == colours(plain)
    send(button.btn, wx.wxEVT_BUTTON)
    assert len(pressed) == 1 and isinstance(pressed[0], wx.CommandEvent)


def test_press_calls_target_even_after_the_object_is_dropped(K, panel):
    import wx

    pressed = []
    button = make_button(K, panel, 7, pressed.append).btn
    send(button, wx.wxEVT_BUTTON)
    assert len(pressed) == 1


def test_hover_handlers_act_on_the_newest_button(K, panel):
    import wx

    button = K.tombol()
    button.btnconfig(panel, "one", (0, 0), (50, 20), 4, None)
    first = button.btn
    button.btnconfig(panel, "two", (60, 0), (50, 20), 5, None)
    send(first, wx.wxEVT_ENTER_WINDOW)
    assert colours(first)[0] == SCHEMES[4][0][0]
    assert colours(button.btn)[0] == SCHEMES[4][1][0]  # OnMouseEnter4 recoloured the second


@pytest.mark.parametrize("event", [None, object()])
def test_hover_handler_called_directly(K, panel, event):
    button = make_button(K, panel, 2)
    assert button.OnMouseEnter2(event) is None
    assert colours(button.btn) == SCHEMES[2][1]


def test_hover_handler_without_button(K):
    with pytest.raises(AttributeError) as caught:
        K.tombol().OnMouseLeave5(None)
    name = "KestrovaGUI.tombol.OnMouseLeave5"
    assert module_entries(caught.tb)[-1] == (name, listed_line(name, "SetBackgroundColour"))


def test_btnconfig_calls(K, stub_wx):
    panel = stub_wx.Panel()
    button = K.tombol()
    target = lambda event: None  # noqa: E731
    button.btnconfig(panel, "Go", (1, 2), (3, 4), 0, target)
    assert calls(stub_wx)[1:] == [
        "GenButton1 = GenButton(Panel1, -1, 'Go', (1, 2), (3, 4))",
        "GenButton1.Bind('EVT_BUTTON', %s)" % target.__qualname__,
        "GenButton1.SetBezelWidth(0)",
        "GenButton1.SetBackgroundColour((51, 51, 51))",
        "GenButton1.SetForegroundColour((230, 230, 230))",
        "GenButton1.Bind('EVT_ENTER_WINDOW', tombol.OnMouseEnter0)",
        "GenButton1.Bind('EVT_LEAVE_WINDOW', tombol.OnMouseLeave0)",
    ]
    stub_wx.reset()
    button.btnconfig(panel, "Go", (1, 2), (3, 4), "0", target)
    assert [line.split("(")[0] for line in calls(stub_wx)] == [
        "GenButton1 = GenButton", "GenButton1.Bind", "GenButton1.SetBezelWidth"]


HOVER_CALLS = {
    "OnMouseEnter0": ["SetForegroundColour((250, 250, 250))", "SetBackgroundColour((0, 190, 255))"],
    "OnMouseLeave0": ["SetForegroundColour((250, 250, 250))", "SetBackgroundColour((51, 51, 51))"],
    "OnMouseEnter1": ["SetBackgroundColour((100, 100, 100))", "SetForegroundColour((250, 250, 250))"],
    "OnMouseLeave1": ["SetForegroundColour((100, 100, 100))", "SetBackgroundColour((225, 225, 225))"],
    "OnMouseEnter2": ["SetForegroundColour((50, 50, 50))", "SetBackgroundColour((255, 191, 0))"],
    "OnMouseLeave2": ["SetForegroundColour((250, 250, 250))", "SetBackgroundColour((50, 50, 50))"],
    "OnMouseEnter3": ["SetBackgroundColour((255, 191, 0))"],
    "OnMouseLeave3": ["SetBackgroundColour((54, 54, 63))"],
    "OnMouseEnter4": ["SetBackgroundColour((0, 170, 213))"],
    "OnMouseLeave4": ["SetBackgroundColour((0, 204, 255))"],
    "OnMouseEnter5": ["SetBackgroundColour((255, 120, 0))"],
    "OnMouseLeave5": ["SetBackgroundColour((255, 153, 0))"],
}


@pytest.mark.parametrize("handler", sorted(HOVER_CALLS))
def test_hover_handler_calls(K, stub_wx, handler):
    button = K.tombol()
    button.btn = stub_wx.GenButton()
    stub_wx.reset()
    assert getattr(button, handler)(None) is None
    assert calls(stub_wx) == ["GenButton1." + c for c in HOVER_CALLS[handler] + ["Refresh()"]]


def test_show_image_at_natural_size(K, panel, tmp_path):
    import wx

    path = tmp_path / "logo.png"
    assert wx.Image(120, 80).SaveFile(str(path), wx.BITMAP_TYPE_PNG)
    assert K.showImage(str(path), panel, (5, 7)) is None
    assert K.showImage(urlfileimage=str(path), parent=panel, pos=(5, 7)) is None
    shown = [c for c in panel.GetChildren() if isinstance(c, wx.StaticBitmap)]
    assert len(shown) == 2
    for widget in shown:
        assert widget.GetPosition() == (5, 7) and widget.GetSize() == (120, 80)


def test_show_image_calls(K, stub_wx):
    panel = stub_wx.Panel()
    K.showImage("pic.jpg", panel, (3, 4))
    assert calls(stub_wx)[1:] == [
        "Image1 = Image('pic.jpg', 50)",
        "Image1.ConvertToBitmap()",
        "Bitmap1 = Bitmap()",
        "Bitmap1.GetWidth()",
        "Bitmap1.GetHeight()",
        "StaticBitmap1 = StaticBitmap(Panel1, -1, Bitmap1, (3, 4), (120, 80))",
    ]


@pytest.fixture
def fake_ctypes(monkeypatch):
    """A ctypes whose windll records the shell call."""
    shell_calls = []
    shell32 = types.SimpleNamespace(SetCurrentProcessExplicitAppUserModelID=shell_calls.append)
    fake = types.ModuleType("ctypes")
    fake.windll = types.SimpleNamespace(shell32=shell32)
    monkeypatch.setitem(sys.modules, "ctypes", fake)
    return shell_calls


@pytest.mark.parametrize("tipe, icon_file", [(1, "img/icon_zentrova.ico"), (True, "img/icon_zentrova.ico"),
                                             (1.0, "img/icon_zentrova.ico"), (2, "tool.ico")])
def test_icon_sets_app_id_then_icon(K, stub_wx, fake_ctypes, tipe, icon_file):
    frame = stub_wx.Frame()
    assert K.icon(frame, tipe) is None
    assert K.icon(parent=frame, tipe=tipe) is None
    assert fake_ctypes == ["mycompany.myproduct.subproduct.version"] * 2
    assert calls(stub_wx)[1:] == ["Icon1 = Icon(%r, 3)" % icon_file, "Frame1.SetIcon(Icon1)",
                                  "Icon2 = Icon(%r, 3)" % icon_file, "Frame1.SetIcon(Icon2)"]


@pytest.mark.parametrize("tipe", [0, 3, "1", None])
def test_icon_other_kinds_do_nothing(K, stub_wx, fake_ctypes, monkeypatch, tipe):
    monkeypatch.delitem(sys.modules, "ctypes")  # an import would bring the real one back
    frame = stub_wx.Frame()
    assert K.icon(frame, tipe) is None
    assert calls(stub_wx) == ["Frame1 = Frame()"] and fake_ctypes == []
    assert "ctypes" not in sys.modules


def test_icon_without_windll_still_sets_the_icon(K, frame, tmp_path, monkeypatch):
    import wx

    monkeypatch.chdir(tmp_path)
    (tmp_path / "img").mkdir()
    assert wx.Image(16, 16).SaveFile("img/icon_zentrova.ico", wx.BITMAP_TYPE_ICO)
    assert wx.Image(32, 32).SaveFile("tool.ico", wx.BITMAP_TYPE_ICO)
    import ctypes
    assert not hasattr(ctypes, "windll")
    def icon_width():
        icons = frame.GetIcons()  # GetIcon() is never set on GTK
        assert icons.GetIconCount() == 1
        return icons.GetIconByIndex(0).GetWidth()

    K.icon(frame, 1)
    assert icon_width() == 16
    K.icon(frame, 2)
    assert icon_width() == 32


@pytest.mark.parametrize("error", [AttributeError, OSError])
def test_icon_windll_lookup(K, stub_wx, monkeypatch, error):
    fake = types.ModuleType("ctypes")

    def __getattr__(name):  # as a library loader that cannot load
        raise error(name)

    fake.__getattr__ = __getattr__
    monkeypatch.setitem(sys.modules, "ctypes", fake)
    frame = stub_wx.Frame()
    if error is AttributeError:  # no windll: no shell to tell, the icon is still set
        for _ in range(3):
            assert K.icon(frame, 1) is None
        assert calls(stub_wx)[-2:] == ["Icon3 = Icon('img/icon_zentrova.ico', 3)", "Frame1.SetIcon(Icon3)"]
    else:
        with pytest.raises(OSError, match="^windll$") as caught:
            K.icon(frame, 1)
        assert calls(stub_wx) == ["Frame1 = Frame()"]
        assert module_entries(caught.tb) == [("KestrovaGUI.icon", listed_line("KestrovaGUI.icon", "SetCurrentProcessExplicitAppUserModelID", 0))]


def test_icon_parent_without_set_icon_fails_last(K, stub_wx, fake_ctypes):
    with pytest.raises(AttributeError) as caught:
        K.icon(object(), 2)
    assert fake_ctypes and calls(stub_wx) == ["Icon1 = Icon('tool.ico', 3)"]
    assert module_entries(caught.tb) == [("KestrovaGUI.icon", listed_line("KestrovaGUI.icon", "parent.SetIcon", 1))]


def test_garis_prints_the_separator(K, capsys, monkeypatch):
    monkeypatch.setattr(builtins, "print", lambda *a, **k: pytest.fail("print replaced"))
    monkeypatch.setattr(K, "print", lambda *a, **k: pytest.fail("module print"), raising=False)
    assert K.garis() is None
    assert capsys.readouterr().out == "-" * 63 + "\n\n"
    stream = io.StringIO()
    monkeypatch.setattr(sys, "stdout", stream)
    K.garis()
    assert stream.getvalue() == "-" * 63 + "\n\n"


def test_garis_failing_stream(K, monkeypatch):
    class Broken:
        def write(self, text):
            raise OSError("disk full")

    monkeypatch.setattr(sys, "stdout", Broken())
    with pytest.raises(OSError) as caught:
        K.garis()
    assert module_entries(caught.tb) == [("KestrovaGUI.garis", listed_line("KestrovaGUI.garis", "print(\"-"))]
