# Type stubs for the KestrovaGUI extension module.
#
# Every parameter of every class and function may be given by position or by keyword and
# has no default. Initialisers, functions and event handlers return None.
#
# The toolkit ships no type information, so its objects appear here as `Any` under names
# that say what is expected: a window to lay out on, a top-level window for the icon, a
# text control, a button.
#
# At load the module also imports wx, os, locale, pandas and GenButton (from
# wx.lib.buttons) into its namespace, where its functions look up wx and GenButton at
# each call. Those names belong to their own packages, not to this library's interface,
# so they are deliberately absent here: an application imports them from where they come
# from. (An application or a test may still rebind KestrovaGUI.wx at run time; a type
# checker will flag that access, which is the point: it reaches into the implementation.)

from typing import Any, Callable, Literal

# A wx.Window, normally a wx.Panel, on which a row, button or image is created.
_Window = Any
# A top-level wx.Window (a wx.Frame or wx.Dialog) that offers SetIcon.
_TopLevelWindow = Any
# The wx.TextCtrl of a row.
_TextCtrl = Any
# A wx.lib.buttons.GenButton.
_Button = Any
# An (x, y) position or a (width, height) size in pixels.
_Pair = tuple[int, int]
# How a browse button opens its dialog. Other texts are accepted when the row is made, but
# pressing its button then fails with UnboundLocalError and opens no dialog.
_DialogMode = Literal["OpenFile", "SaveFile"]
# The toolkit's event handler: called with the event, its result ignored.
_Handler = Callable[[Any], object]

# Doctest's table of extra tests: always empty.
__test__: dict[str, Any]

# File rows at the left margin (x 15): caption at (15, PosTinggi - 22), text control at
# (15, PosTinggi) sized (LebarForm, 20), browse button at (LebarForm + 25, PosTinggi)
# sized (40, 20).

class FormA:
    """A TIF image row."""

    entryOpenFile: _TextCtrl
    def __init__(
        self, FileDialogStatus: _DialogMode, Info: str, LebarForm: int, PosTinggi: int, TargetPanel: _Window
    ) -> None: ...

class FormA2:
    """A TIF image row, the same as FormA."""

    entryOpenFile: _TextCtrl
    def __init__(
        self, FileDialogStatus: _DialogMode, Info: str, LebarForm: int, PosTinggi: int, TargetPanel: _Window
    ) -> None: ...

class FormC:
    """A CSV table row."""

    entryOpenFile: _TextCtrl
    def __init__(
        self, FileDialogStatus: _DialogMode, Info: str, LebarForm: int, PosTinggi: int, TargetPanel: _Window
    ) -> None: ...

# File rows at x PosLeft: caption at (PosLeft, PosTinggi - 22), text control at
# (PosLeft, PosTinggi) sized (LebarForm, 20), browse button at
# (PosLeft + LebarForm + 15, PosTinggi) sized (40, 20).

class FormFolderTIF:
    """A TIF image row."""

    entryOpenFile: _TextCtrl
    def __init__(
        self,
        FileDialogStatus: _DialogMode,
        Info: str,
        LebarForm: int,
        PosLeft: int,
        PosTinggi: int,
        TargetPanel: _Window,
    ) -> None: ...

class FormFolderProjection:
    """A WLD or PRJ projection row."""

    entryOpenFile: _TextCtrl
    def __init__(
        self,
        FileDialogStatus: _DialogMode,
        Info: str,
        LebarForm: int,
        PosLeft: int,
        PosTinggi: int,
        TargetPanel: _Window,
    ) -> None: ...

class FormFolderCSV:
    """A CSV table row."""

    entryOpenFile: _TextCtrl
    def __init__(
        self,
        FileDialogStatus: _DialogMode,
        Info: str,
        LebarForm: int,
        PosLeft: int,
        PosTinggi: int,
        TargetPanel: _Window,
    ) -> None: ...

# Text rows: a caption and, 22 pixels lower, a text control sized (LebarForm, 20).

class FormText:
    """Caption and text control at x PosLeft."""

    entryOpenFile: _TextCtrl
    def __init__(self, Info: str, LebarForm: int, PosLeft: int, PosTinggi: int, TargetPanel: _Window) -> None: ...

class FormB:
    """Caption and text control at x 15."""

    entryOpenFile: _TextCtrl
    def __init__(self, Info: str, LebarForm: int, PosTinggi: int, TargetPanel: _Window) -> None: ...

class FormB2:
    """Caption at x 15, text control at x 580."""

    entryOpenFile: _TextCtrl
    def __init__(self, Info: str, LebarForm: int, PosTinggi: int, TargetPanel: _Window) -> None: ...

def showImage(urlfileimage: str, parent: _Window, pos: _Pair) -> None:
    """Shows the image file at its natural size at pos on parent."""

class tombol:
    """A flat button with a hover effect; made empty, laid out by btnconfig."""

    # The button of the latest btnconfig call; absent before the first one.
    btn: _Button
    def btnconfig(
        self, parent: _Window, label: str, pos: _Pair, size: _Pair, btntype: int | None, target: _Handler
    ) -> None:
        """Puts the button on parent, binds its press to target and gives it colour scheme
        btntype (0 to 5; any other value leaves the toolkit's colours and no hover effect)."""
    def OnMouseEnter0(self, event: object) -> None: ...
    def OnMouseLeave0(self, event: object) -> None: ...
    def OnMouseEnter2(self, event: object) -> None: ...
    def OnMouseLeave2(self, event: object) -> None: ...
    def OnMouseEnter1(self, event: object) -> None: ...
    def OnMouseLeave1(self, event: object) -> None: ...
    def OnMouseEnter3(self, event: object) -> None: ...
    def OnMouseLeave3(self, event: object) -> None: ...
    def OnMouseEnter4(self, event: object) -> None: ...
    def OnMouseLeave4(self, event: object) -> None: ...
    def OnMouseEnter5(self, event: object) -> None: ...
    def OnMouseLeave5(self, event: object) -> None: ...

def icon(parent: _TopLevelWindow, tipe: int) -> None:
    """Sets the window's icon: 1 from img/icon_zentrova.ico, 2 from tool.ico (relative to
    the working directory); any other value does nothing."""

def garis() -> None:
    """Prints a line of 63 hyphens and an empty line."""
