"""The plain-Python peer of KestrovaGUI: the same classes and functions, written as
straightforward Python, making exactly the same toolkit calls in the same order.

The benchmarks time each entry point of the module against its counterpart here. Like
the module, every function finds `wx`, `GenButton` and `tombol` as globals of this module
when it runs, so the benchmarks bind the toolkit under test by setting those globals.
"""

import os  # noqa: F401  (imported by the module too)
import os.path  # noqa: F401
import locale  # noqa: F401
import pandas  # noqa: F401

import wx
from wx.lib.buttons import GenButton

TIF = "TIF Image (*.tif)|*.tif|All files (*.*)|*.*"
PROJECTION = "WLD Projection (*.wld)|*.wld|PRJ Projection (*.prj)|*.prj|All files (*.*)|*.*"
CSV = "CSV(*.csv)|*.csv|All files (*.*)|*.*"


# --- File-entry rows -----------------------------------------------------------------------
# Each form spells out its own initialiser, as a hand-written module would; they differ
# only in the wildcard and in where the row stands.

class FormA:
    def __init__(self, FileDialogStatus, Info, LebarForm, PosTinggi, TargetPanel):
        def filedialog(event):
            wildcard = TIF
            if FileDialogStatus == "OpenFile":
                dialog = wx.FileDialog(None, "Choose a file", "SETDIREKTORI", "", wildcard, wx.FD_OPEN)
            if FileDialogStatus == "SaveFile":
                dialog = wx.FileDialog(None, "Create a file", "SETDIREKTORI", "", wildcard,
                                       wx.FD_SAVE | wx.FD_OVERWRITE_PROMPT)
            if dialog.ShowModal() == wx.ID_OK:
                self.entryOpenFile.SetValue(dialog.GetPath())
                dialog.Destroy()
            else:
                dialog.Destroy()

        Text = wx.StaticText(TargetPanel, -1, Info, pos=(15, PosTinggi - 22))
        self.entryOpenFile = wx.TextCtrl(TargetPanel, -1, size=(LebarForm, 20), pos=(15, PosTinggi),
                                         style=wx.BORDER)
        self.entryOpenFile.SetFont(wx.Font(9, wx.DECORATIVE, wx.NORMAL, wx.NORMAL, False, "Verdana"))
        self.entryOpenFile.SetForegroundColour("WHITE")
        self.entryOpenFile.SetBackgroundColour((50, 50, 50))
        Text.SetForegroundColour("GREY")
        Btn = tombol()
        Btn.btnconfig(parent=TargetPanel, label="...", size=(40, 20), pos=(LebarForm + 25, PosTinggi),
                      btntype=3, target=filedialog)


class FormFolderTIF:
    def __init__(self, FileDialogStatus, Info, LebarForm, PosLeft, PosTinggi, TargetPanel):
        def filedialog(event):
            wildcard = TIF
            if FileDialogStatus == "OpenFile":
                dialog = wx.FileDialog(None, "Choose a file", "SETDIREKTORI", "", wildcard, wx.FD_OPEN)
            if FileDialogStatus == "SaveFile":
                dialog = wx.FileDialog(None, "Create a file", "SETDIREKTORI", "", wildcard,
                                       wx.FD_SAVE | wx.FD_OVERWRITE_PROMPT)
            if dialog.ShowModal() == wx.ID_OK:
                self.entryOpenFile.SetValue(dialog.GetPath())
                dialog.Destroy()
            else:
                dialog.Destroy()

        Text = wx.StaticText(TargetPanel, -1, Info, pos=(PosLeft, PosTinggi - 22))
        self.entryOpenFile = wx.TextCtrl(TargetPanel, -1, size=(LebarForm, 20), pos=(PosLeft, PosTinggi),
                                         style=wx.BORDER)
        self.entryOpenFile.SetFont(wx.Font(9, wx.DECORATIVE, wx.NORMAL, wx.NORMAL, False, "Verdana"))
        self.entryOpenFile.SetForegroundColour("WHITE")
        self.entryOpenFile.SetBackgroundColour((50, 50, 50))
        Text.SetForegroundColour("GREY")
        Btn = tombol()
        Btn.btnconfig(parent=TargetPanel, label="...", size=(40, 20),
                      pos=(PosLeft + LebarForm + 15, PosTinggi), btntype=3, target=filedialog)


class FormFolderProjection:
    def __init__(self, FileDialogStatus, Info, LebarForm, PosLeft, PosTinggi, TargetPanel):
        def filedialog(event):
            wildcard = PROJECTION
            if FileDialogStatus == "OpenFile":
                dialog = wx.FileDialog(None, "Choose a file", "SETDIREKTORI", "", wildcard, wx.FD_OPEN)
            if FileDialogStatus == "SaveFile":
                dialog = wx.FileDialog(None, "Create a file", "SETDIREKTORI", "", wildcard,
                                       wx.FD_SAVE | wx.FD_OVERWRITE_PROMPT)
            if dialog.ShowModal() == wx.ID_OK:
                self.entryOpenFile.SetValue(dialog.GetPath())
                dialog.Destroy()
            else:
                dialog.Destroy()

        Text = wx.StaticText(TargetPanel, -1, Info, pos=(PosLeft, PosTinggi - 22))
        self.entryOpenFile = wx.TextCtrl(TargetPanel, -1, size=(LebarForm, 20), pos=(PosLeft, PosTinggi),
                                         style=wx.BORDER)
        self.entryOpenFile.SetFont(wx.Font(9, wx.DECORATIVE, wx.NORMAL, wx.NORMAL, False, "Verdana"))
        self.entryOpenFile.SetForegroundColour("WHITE")
        self.entryOpenFile.SetBackgroundColour((50, 50, 50))
        Text.SetForegroundColour("GREY")
        Btn = tombol()
        Btn.btnconfig(parent=TargetPanel, label="...", size=(40, 20),
                      pos=(PosLeft + LebarForm + 15, PosTinggi), btntype=3, target=filedialog)


class FormFolderCSV:
    def __init__(self, FileDialogStatus, Info, LebarForm, PosLeft, PosTinggi, TargetPanel):
        def filedialog(event):
            wildcard = CSV
            if FileDialogStatus == "OpenFile":
                dialog = wx.FileDialog(None, "Choose a file", "SETDIREKTORI", "", wildcard, wx.FD_OPEN)
            if FileDialogStatus == "SaveFile":
                dialog = wx.FileDialog(None, "Create a file", "SETDIREKTORI", "", wildcard,
                                       wx.FD_SAVE | wx.FD_OVERWRITE_PROMPT)
            if dialog.ShowModal() == wx.ID_OK:
                self.entryOpenFile.SetValue(dialog.GetPath())
                dialog.Destroy()
            else:
                dialog.Destroy()

        Text = wx.StaticText(TargetPanel, -1, Info, pos=(PosLeft, PosTinggi - 22))
        self.entryOpenFile = wx.TextCtrl(TargetPanel, -1, size=(LebarForm, 20), pos=(PosLeft, PosTinggi),
                                         style=wx.BORDER)
        self.entryOpenFile.SetFont(wx.Font(9, wx.DECORATIVE, wx.NORMAL, wx.NORMAL, False, "Verdana"))
        self.entryOpenFile.SetForegroundColour("WHITE")
        self.entryOpenFile.SetBackgroundColour((50, 50, 50))
        Text.SetForegroundColour("GREY")
        Btn = tombol()
        Btn.btnconfig(parent=TargetPanel, label="...", size=(40, 20),
                      pos=(PosLeft + LebarForm + 15, PosTinggi), btntype=3, target=filedialog)


class FormA2:
    def __init__(self, FileDialogStatus, Info, LebarForm, PosTinggi, TargetPanel):
        def filedialog(event):
            wildcard = TIF
            if FileDialogStatus == "OpenFile":
                dialog = wx.FileDialog(None, "Choose a file", "SETDIREKTORI", "", wildcard, wx.FD_OPEN)
            if FileDialogStatus == "SaveFile":
                dialog = wx.FileDialog(None, "Create a file", "SETDIREKTORI", "", wildcard,
                                       wx.FD_SAVE | wx.FD_OVERWRITE_PROMPT)
            if dialog.ShowModal() == wx.ID_OK:
                self.entryOpenFile.SetValue(dialog.GetPath())
                dialog.Destroy()
            else:
                dialog.Destroy()

        Text = wx.StaticText(TargetPanel, -1, Info, pos=(15, PosTinggi - 22))
        self.entryOpenFile = wx.TextCtrl(TargetPanel, -1, size=(LebarForm, 20), pos=(15, PosTinggi),
                                         style=wx.BORDER)
        self.entryOpenFile.SetFont(wx.Font(9, wx.DECORATIVE, wx.NORMAL, wx.NORMAL, False, "Verdana"))
        self.entryOpenFile.SetForegroundColour("WHITE")
        self.entryOpenFile.SetBackgroundColour((50, 50, 50))
        Text.SetForegroundColour("GREY")
        Btn = tombol()
        Btn.btnconfig(parent=TargetPanel, label="...", size=(40, 20), pos=(LebarForm + 25, PosTinggi),
                      btntype=3, target=filedialog)


class FormC:
    def __init__(self, FileDialogStatus, Info, LebarForm, PosTinggi, TargetPanel):
        def filedialog(event):
            wildcard = CSV
            if FileDialogStatus == "OpenFile":
                dialog = wx.FileDialog(None, "Choose a file", "SETDIREKTORI", "", wildcard, wx.FD_OPEN)
            if FileDialogStatus == "SaveFile":
                dialog = wx.FileDialog(None, "Create a file", "SETDIREKTORI", "", wildcard,
                                       wx.FD_SAVE | wx.FD_OVERWRITE_PROMPT)
            if dialog.ShowModal() == wx.ID_OK:
                self.entryOpenFile.SetValue(dialog.GetPath())
                dialog.Destroy()
            else:
                dialog.Destroy()

        Text = wx.StaticText(TargetPanel, -1, Info, pos=(15, PosTinggi - 22))
        self.entryOpenFile = wx.TextCtrl(TargetPanel, -1, size=(LebarForm, 20), pos=(15, PosTinggi),
                                         style=wx.BORDER)
        self.entryOpenFile.SetFont(wx.Font(9, wx.DECORATIVE, wx.NORMAL, wx.NORMAL, False, "Verdana"))
        self.entryOpenFile.SetForegroundColour("WHITE")
        self.entryOpenFile.SetBackgroundColour((50, 50, 50))
        Text.SetForegroundColour("GREY")
        Btn = tombol()
        Btn.btnconfig(parent=TargetPanel, label="...", size=(40, 20), pos=(LebarForm + 25, PosTinggi),
                      btntype=3, target=filedialog)


# --- Text-entry rows -----------------------------------------------------------------------

class FormText:
    def __init__(self, Info, LebarForm, PosLeft, PosTinggi, TargetPanel):
        Text = wx.StaticText(TargetPanel, -1, Info, pos=(PosLeft, PosTinggi - 22))
        self.entryOpenFile = wx.TextCtrl(TargetPanel, -1, size=(LebarForm, 20), pos=(PosLeft, PosTinggi),
                                         style=wx.BORDER)
        self.entryOpenFile.SetFont(wx.Font(9, wx.DECORATIVE, wx.NORMAL, wx.NORMAL, False, "Verdana"))
        self.entryOpenFile.SetForegroundColour("WHITE")
        self.entryOpenFile.SetBackgroundColour((50, 50, 50))
        Text.SetForegroundColour("GREY")


class FormB:
    def __init__(self, Info, LebarForm, PosTinggi, TargetPanel):
        Text = wx.StaticText(TargetPanel, -1, Info, pos=(15, PosTinggi - 22))
        self.entryOpenFile = wx.TextCtrl(TargetPanel, -1, size=(LebarForm, 20), pos=(15, PosTinggi),
                                         style=wx.BORDER)
        self.entryOpenFile.SetFont(wx.Font(9, wx.DECORATIVE, wx.NORMAL, wx.NORMAL, False, "Verdana"))
        self.entryOpenFile.SetForegroundColour("WHITE")
        self.entryOpenFile.SetBackgroundColour((50, 50, 50))
        Text.SetForegroundColour("GREY")


class FormB2:
    def __init__(self, Info, LebarForm, PosTinggi, TargetPanel):
        Text = wx.StaticText(TargetPanel, -1, Info, pos=(15, PosTinggi - 22))
        self.entryOpenFile = wx.TextCtrl(TargetPanel, -1, size=(LebarForm, 20), pos=(580, PosTinggi),
                                         style=wx.BORDER)
        self.entryOpenFile.SetFont(wx.Font(9, wx.DECORATIVE, wx.NORMAL, wx.NORMAL, False, "Verdana"))
        self.entryOpenFile.SetForegroundColour("WHITE")
        self.entryOpenFile.SetBackgroundColour((50, 50, 50))
        Text.SetForegroundColour("GREY")


# --- Image, button, icon, separator -----------------------------------------------------------

def showImage(urlfileimage, parent, pos):
    png = wx.Image(urlfileimage, wx.BITMAP_TYPE_ANY).ConvertToBitmap()
    wx.StaticBitmap(parent, -1, png, pos, (png.GetWidth(), png.GetHeight()))


class tombol:
    def btnconfig(self, parent, label, pos, size, btntype, target):
        self.btn = GenButton(parent, -1, label, pos, size)
        self.btn.Bind(wx.EVT_BUTTON, target)
        self.btn.SetBezelWidth(0)
        if btntype == 0:
            self.btn.SetBackgroundColour((51, 51, 51))
            self.btn.SetForegroundColour((230, 230, 230))
            self.btn.Bind(wx.EVT_ENTER_WINDOW, self.OnMouseEnter0)
            self.btn.Bind(wx.EVT_LEAVE_WINDOW, self.OnMouseLeave0)
        elif btntype == 1:
            self.btn.SetBackgroundColour((225, 225, 225))
            self.btn.SetForegroundColour((100, 100, 100))
            self.btn.Bind(wx.EVT_ENTER_WINDOW, self.OnMouseEnter1)
            self.btn.Bind(wx.EVT_LEAVE_WINDOW, self.OnMouseLeave1)
        elif btntype == 2:
            self.btn.SetBackgroundColour((50, 50, 50))
            self.btn.SetForegroundColour((220, 220, 220))
            self.btn.Bind(wx.EVT_ENTER_WINDOW, self.OnMouseEnter2)
            self.btn.Bind(wx.EVT_LEAVE_WINDOW, self.OnMouseLeave2)
        elif btntype == 3:
            self.btn.SetBackgroundColour((54, 54, 63))
            self.btn.SetForegroundColour((255, 255, 255))
            self.btn.Bind(wx.EVT_ENTER_WINDOW, self.OnMouseEnter3)
            self.btn.Bind(wx.EVT_LEAVE_WINDOW, self.OnMouseLeave3)
        elif btntype == 4:
            self.btn.SetBackgroundColour((0, 204, 255))
            self.btn.SetForegroundColour((255, 255, 255))
            self.btn.Bind(wx.EVT_ENTER_WINDOW, self.OnMouseEnter4)
            self.btn.Bind(wx.EVT_LEAVE_WINDOW, self.OnMouseLeave4)
        elif btntype == 5:
            self.btn.SetBackgroundColour((255, 153, 0))
            self.btn.SetForegroundColour((255, 255, 255))
            self.btn.Bind(wx.EVT_ENTER_WINDOW, self.OnMouseEnter5)
            self.btn.Bind(wx.EVT_LEAVE_WINDOW, self.OnMouseLeave5)

    def OnMouseEnter0(self, event):
        self.btn.SetForegroundColour((250, 250, 250))
        self.btn.SetBackgroundColour((0, 190, 255))
        self.btn.Refresh()

    def OnMouseLeave0(self, event):
        self.btn.SetForegroundColour((250, 250, 250))
        self.btn.SetBackgroundColour((51, 51, 51))
        self.btn.Refresh()

    def OnMouseEnter2(self, event):
        self.btn.SetForegroundColour((50, 50, 50))
        self.btn.SetBackgroundColour((255, 191, 0))
        self.btn.Refresh()

    def OnMouseLeave2(self, event):
        self.btn.SetForegroundColour((250, 250, 250))
        self.btn.SetBackgroundColour((50, 50, 50))
        self.btn.Refresh()

    def OnMouseEnter1(self, event):
        self.btn.SetBackgroundColour((100, 100, 100))
        self.btn.SetForegroundColour((250, 250, 250))
        self.btn.Refresh()

    def OnMouseLeave1(self, event):
        self.btn.SetForegroundColour((100, 100, 100))
        self.btn.SetBackgroundColour((225, 225, 225))
        self.btn.Refresh()

    def OnMouseEnter3(self, event):
        self.btn.SetBackgroundColour((255, 191, 0))
        self.btn.Refresh()

    def OnMouseLeave3(self, event):
        self.btn.SetBackgroundColour((54, 54, 63))
        self.btn.Refresh()

    def OnMouseEnter4(self, event):
        self.btn.SetBackgroundColour((0, 170, 213))
        self.btn.Refresh()

    def OnMouseLeave4(self, event):
        self.btn.SetBackgroundColour((0, 204, 255))
        self.btn.Refresh()

    def OnMouseEnter5(self, event):
        self.btn.SetBackgroundColour((255, 120, 0))
        self.btn.Refresh()

    def OnMouseLeave5(self, event):
        self.btn.SetBackgroundColour((255, 153, 0))
        self.btn.Refresh()


def icon(parent, tipe):
    if tipe == 1:
        import ctypes
        myappid = "mycompany.myproduct.subproduct.version"
        # Only Windows' ctypes has windll; elsewhere the shell call is skipped.
        windll = getattr(ctypes, "windll", None)
        if windll is not None:
            windll.shell32.SetCurrentProcessExplicitAppUserModelID(myappid)
        ico = wx.Icon("img/icon_zentrova.ico", wx.BITMAP_TYPE_ICO)
        parent.SetIcon(ico)
    elif tipe == 2:
        import ctypes
        myappid = "mycompany.myproduct.subproduct.version"
        windll = getattr(ctypes, "windll", None)
        if windll is not None:
            windll.shell32.SetCurrentProcessExplicitAppUserModelID(myappid)
        ico = wx.Icon("tool.ico", wx.BITMAP_TYPE_ICO)
        parent.SetIcon(ico)


def garis():
    print("---------------------------------------------------------------")
    print("")
