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

# The classes whose names begin with an underscore are absent at run time: each holds once
# what several public classes share (an initialiser, a handler's signature).

# File rows at the left margin (x 15): caption at (15, PosTinggi - 22), text control at
# (15, PosTinggi) sized (LebarForm, 20), browse button at (LebarForm + 25, PosTinggi)
# sized (40, 20).
class _FileRowAtMargin:
    entryOpenFile: _TextCtrl
    def __init__(
        self, FileDialogStatus: _DialogMode, Info: str, LebarForm: int, PosTinggi: int, TargetPanel: _Window
    ) -> None: ...

class FormA(_FileRowAtMargin): """A TIF image row."""
class FormA2(_FileRowAtMargin): """A TIF image row, the same as FormA."""
class FormC(_FileRowAtMargin): """A CSV table row."""

# File rows at x PosLeft: caption at (PosLeft, PosTinggi - 22), text control at
# (PosLeft, PosTinggi) sized (LebarForm, 20), browse button at
# (PosLeft + LebarForm + 15, PosTinggi) sized (40, 20).
class _FileRowAtLeft:
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

class FormFolderTIF(_FileRowAtLeft): """A TIF image row."""
class FormFolderProjection(_FileRowAtLeft): """A WLD or PRJ projection row."""
class FormFolderCSV(_FileRowAtLeft): """A CSV table row."""

# Text rows: a caption and, 22 pixels lower, a text control sized (LebarForm, 20).

class FormText:
    """Caption and text control at x PosLeft."""

    def __init__(self, Info: str, LebarForm: int, PosLeft: int, PosTinggi: int, TargetPanel: _Window) -> None: ...
    entryOpenFile: _TextCtrl

class _TextRow:
    entryOpenFile: _TextCtrl
    def __init__(self, Info: str, LebarForm: int, PosTinggi: int, TargetPanel: _Window) -> None: ...

class FormB(_TextRow): """Caption and text control at x 15."""
class FormB2(_TextRow): """Caption at x 15, text control at x 580."""

def showImage(urlfileimage: str, parent: _Window, pos: _Pair) -> None:
    """Shows the image file at its natural size at pos on parent."""

class _Hover:
    def handler(self, event: object) -> None: ...  # event is not used

class tombol(_Hover):
    """A flat button with a hover effect; made empty, laid out by btnconfig."""

    # The button of the latest btnconfig call; absent before the first one.
    btn: _Button
    def btnconfig(
        self, parent: _Window, label: str, pos: _Pair, size: _Pair, btntype: int | None, target: _Handler
    ) -> None:
        """Puts the button on parent, binds its press to target and gives it colour scheme
        btntype (0 to 5; any other value leaves the toolkit's colours and no hover effect)."""
    # The hover handlers, in definition order: each recolours btn in its scheme's colours
    # for the pointer over it (Enter) or gone (Leave), and repaints it.
    OnMouseEnter0 = OnMouseLeave0 = OnMouseEnter2 = OnMouseLeave2 = _Hover.handler
    OnMouseEnter1 = OnMouseLeave1 = OnMouseEnter3 = OnMouseLeave3 = _Hover.handler
    OnMouseEnter4 = OnMouseLeave4 = OnMouseEnter5 = OnMouseLeave5 = _Hover.handler

def icon(parent: _TopLevelWindow, tipe: int) -> None:
    """Sets the window's icon: 1 from img/icon_zentrova.ico, 2 from tool.ico (relative to
    the working directory); any other value does nothing."""

def garis() -> None:
    """Prints a line of 63 hyphens and an empty line."""
