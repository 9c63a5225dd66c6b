"""A stand-in for the wx package that records every call made on it.

Tests bind a fresh copy to ``KestrovaGUI.wx`` to observe exact call sequences, and
subprocesses put this directory first on the path where the real toolkit is not wanted
(or cannot load, as under the debug interpreter).

Every object made here gets a label (``TextCtrl1``, ``GenButton2``...) and every
construction and method call is appended to ``log`` as ``(label, name, args, kwargs)``;
for a construction, ``name`` is the class name.
"""

import itertools

log = []
_counters = {}


def reset():
    del log[:]
    _counters.clear()


class Stub:
    def __init__(self, *args, **kwargs):
        name = type(self).__name__
        counter = _counters.setdefault(name, itertools.count(1))
        self.label = "%s%d" % (name, next(counter))
        log.append((self.label, name, args, kwargs))

    def __repr__(self):
        return self.label


def _method(name, result=None):
    def method(self, *args, **kwargs):
        log.append((self.label, name, args, kwargs))
        return result(self) if callable(result) else result

    method.__name__ = name
    return method


class Window(Stub):
    SetForegroundColour = _method("SetForegroundColour")
    SetBackgroundColour = _method("SetBackgroundColour")
    SetFont = _method("SetFont")
    Refresh = _method("Refresh")
    Bind = _method("Bind")
    SetIcon = _method("SetIcon")


class Panel(Window):
    pass


class Frame(Window):
    pass


class StaticText(Window):
    pass


class TextCtrl(Window):
    SetValue = _method("SetValue")


class StaticBitmap(Window):
    pass


class GenButton(Window):
    SetBezelWidth = _method("SetBezelWidth")


class Font(Stub):
    pass


class Icon(Stub):
    pass


class Bitmap(Stub):
    width, height = 120, 80
    GetWidth = _method("GetWidth", lambda self: self.width)
    GetHeight = _method("GetHeight", lambda self: self.height)


class Image(Stub):
    ConvertToBitmap = _method("ConvertToBitmap", lambda self: Bitmap())


class FileDialog(Stub):
    """``modal_result`` and ``path`` decide what the next dialogs answer."""

    modal_result = 5100  # ID_OK
    path = "/chosen/file.tif"
    ShowModal = _method("ShowModal", lambda self: FileDialog.modal_result)
    GetPath = _method("GetPath", lambda self: FileDialog.path)
    Destroy = _method("Destroy")


ID_OK = 5100
ID_CANCEL = 5101
BORDER = 0x2000000
DECORATIVE = 70
NORMAL = 90
FD_OPEN = 0x1
FD_SAVE = 0x2
FD_OVERWRITE_PROMPT = 0x4
BITMAP_TYPE_ANY = 50
BITMAP_TYPE_ICO = 3
EVT_BUTTON = "EVT_BUTTON"
EVT_ENTER_WINDOW = "EVT_ENTER_WINDOW"
EVT_LEAVE_WINDOW = "EVT_LEAVE_WINDOW"
