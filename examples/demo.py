"""Zentrova Raster: the input panel of a small raster tool, laid out with KestrovaGUI.

    python3 examples/demo.py                     opens the window
    python3 examples/demo.py --screenshots DIR   lays the window out, saves DIR/demo.png,
                                                 moves the pointer onto a button, saves
                                                 DIR/demo-hover.png, clicks Run and exits

Every row, button, image and the window icon come from KestrovaGUI; the frame and the
panel are plain wxPython. The icon, image and sample-data paths are relative to this
directory, as an application's own files would be, so the script works from here.
"""

import argparse
import os
import sys

import wx

import KestrovaGUI as K

HERE = os.path.dirname(os.path.abspath(__file__))
PANEL_SIZE = (905, 454)
BACKGROUND = (32, 33, 38)

# Two columns of file rows. The rows at the left margin (FormA, FormC, FormA2) put their
# browse button at LebarForm + 25; the rows at PosLeft put theirs at PosLeft + LebarForm + 15.
LEFT_WIDTH = 380  # box 15..395, button 405..445
RIGHT_X, RIGHT_WIDTH = 480, 355  # box 480..835, button 850..890
ROWS_Y = (115, 175, 235)  # top of each row's text box; its caption sits 22 pixels higher
PARAMETERS_Y = (295, 355)
BUTTONS_Y, BUTTON_SIZE, BUTTON_STEP = 400, (130, 34), 149

# Defaults of the rows: the sample data set next to this script, and typical parameters.
DEFAULTS = {
    "elevation": "data/dem.tif",
    "georeference": "data/dem.wld",
    "points": "data/points.csv",
    "mask": "",
    "resampled": "out/dem_60m.tif",
    "values": "out/dem_values.csv",
    "band": "1",
    "cell size": "60",
    "no-data": "-9999",
    "resampling": "bilinear",
    "radius": "1",
    "scale": "1.0",
    "offset": "0.0",
    "epsg": "32633",
}


class RasterToolFrame(wx.Frame):
    def __init__(self):
        super().__init__(None, title="Zentrova Raster \u2014 sample and resample",
                         style=wx.DEFAULT_FRAME_STYLE & ~(wx.RESIZE_BORDER | wx.MAXIMIZE_BOX))
        self.panel = panel = wx.Panel(self, size=PANEL_SIZE)
        panel.SetBackgroundColour(BACKGROUND)
        self.SetClientSize(PANEL_SIZE)
        K.icon(self, 1)  # img/icon_zentrova.ico
        K.showImage("logo.png", panel, (15, 14))

        top, middle, bottom = ROWS_Y
        self.rows = {
            # Inputs, outputs and the optional mask, as file rows.
            "elevation": K.FormA("OpenFile", "Elevation raster (TIF)", LEFT_WIDTH, top, panel),
            "georeference": K.FormFolderProjection("OpenFile", "Georeference (WLD or PRJ)", RIGHT_WIDTH,
                                                   RIGHT_X, top, panel),
            "points": K.FormC("OpenFile", "Sample points (CSV: id, x, y)", LEFT_WIDTH, middle, panel),
            "mask": K.FormFolderTIF("OpenFile", "Mask raster (TIF, optional)", RIGHT_WIDTH, RIGHT_X, middle,
                                    panel),
            "resampled": K.FormA2("SaveFile", "Resampled raster (TIF)", LEFT_WIDTH, bottom, panel),
            "values": K.FormFolderCSV("SaveFile", "Sampled values (CSV)", RIGHT_WIDTH, RIGHT_X, bottom, panel),
        }
        first, second = PARAMETERS_Y
        self.rows.update({
            # Typed parameters, four to a line under the left column.
            "band": K.FormB("Band", 70, first, panel),
            "cell size": K.FormText("Cell size (m)", 95, 100, first, panel),
            "no-data": K.FormText("No-data value", 95, 210, first, panel),
            "resampling": K.FormText("Resampling", 125, 320, first, panel),
            "radius": K.FormText("Radius", 70, 15, second, panel),
            "scale": K.FormText("Scale", 95, 100, second, panel),
            "offset": K.FormText("Offset", 95, 210, second, panel),
            "epsg": K.FormText("Output EPSG", 125, 320, second, panel),
        })
        # A quick look at the sample raster and its points, beside the parameters.
        K.showImage("img/preview.png", panel, (RIGHT_X, first - 20))
        self.reset(None)

        # One button in each colour scheme, the action that runs the job last.
        self.buttons = {}
        for index, (label, scheme, action) in enumerate([
            ("Check inputs", 0, self.check_inputs),
            ("Reset", 2, self.reset),
            ("Help", 3, self.help),
            ("Preview", 4, self.preview),
            ("Close", 1, lambda event: self.Close()),
            ("Run", 5, self.run),
        ]):
            button = K.tombol()
            button.btnconfig(panel, label, (15 + index * BUTTON_STEP, BUTTONS_Y), BUTTON_SIZE, scheme, action)
            self.buttons[label] = button

    def settle(self):
        """Once shown: no row starts out focused with its text selected."""
        self.panel.SetFocusIgnoringChildren()
        for row in self.rows.values():
            row.entryOpenFile.SelectNone()

    def values(self):
        return {name: row.entryOpenFile.GetValue() for name, row in self.rows.items()}

    def run(self, event):
        """Reads every row and hands the values to the job (here: prints them)."""
        K.garis()
        print("Run with:")
        for name, value in self.values().items():
            print("  %-13s %s" % (name, value or "(empty)"))
        K.garis()

    def check_inputs(self, event):
        K.garis()
        for name in ("elevation", "georeference", "points", "mask"):
            path = self.rows[name].entryOpenFile.GetValue()
            state = "not given" if not path else "found" if os.path.isfile(path) else "MISSING"
            print("  %-13s %-22s %s" % (name, path, state))
        K.garis()

    def preview(self, event):
        path = self.rows["elevation"].entryOpenFile.GetValue()
        image = wx.Image(path) if os.path.isfile(path) else wx.Image()
        K.garis()
        if image.IsOk():
            print("%s: %d x %d cells" % (path, image.GetWidth(), image.GetHeight()))
        else:
            print("%s: no raster to preview" % (path or "(no input)"))
        K.garis()

    def reset(self, event):
        for name, row in self.rows.items():
            row.entryOpenFile.SetValue(DEFAULTS[name])

    def help(self, event):
        K.garis()
        print("The \"...\" buttons open a file dialog: TIF images, WLD or PRJ projections, CSV")
        print("tables. Output rows ask before overwriting. Run prints what the job would get.")
        K.garis()


def save_screenshot(window, path):
    """Saves what `window` and its children show on the screen."""
    width, height = window.GetClientSize()
    bitmap = wx.Bitmap(width, height)
    memory = wx.MemoryDC(bitmap)
    # Read from the window itself: a read of the whole screen can return an older picture.
    memory.Blit(0, 0, width, height, wx.ClientDC(window), 0, 0)
    memory.SelectObject(wx.NullBitmap)
    if not bitmap.SaveFile(path, wx.BITMAP_TYPE_PNG):
        raise OSError("cannot write " + path)
    print(path)


class Screenshots:
    """Drives the window without a person: a screenshot once it is laid out, another with
    the pointer over one button, then a click on Run, and closes the window."""

    HOVERED = "Check inputs"

    def __init__(self, frame, directory):
        self.frame, self.directory = frame, directory
        self.pointer = wx.UIActionSimulator()
        self.pointer_works = True
        # Park the pointer where no button is, whatever the screen put it at.
        rect = frame.panel.GetScreenRect()
        self.pointer.MouseMove(rect.Right - 5, rect.Top + 5)
        wx.CallLater(700, self.at_rest)

    def move_onto(self, label):
        button = self.frame.buttons[label].btn
        self.pointer.MouseMove(button.GetScreenRect().GetPosition() + wx.Point(*button.GetSize()) / 2)
        return button

    def at_rest(self):
        save_screenshot(self.frame.panel, os.path.join(self.directory, "demo.png"))
        button = self.frame.buttons[self.HOVERED].btn
        self.rest_colour = button.GetBackgroundColour()
        self.move_onto(self.HOVERED)  # the real pointer: the toolkit delivers the enter event
        wx.CallLater(500, self.hovering)

    def hovering(self):
        button = self.frame.buttons[self.HOVERED].btn
        if button.GetBackgroundColour() == self.rest_colour:
            # No pointer events reach the window (some virtual displays): deliver the enter
            # event that the toolkit would send.
            self.pointer_works = False
            deliver(button, wx.MouseEvent(wx.wxEVT_ENTER_WINDOW))
            print("(the pointer did not reach the window; sent the enter event instead)")
        wx.CallLater(100, self.hovered)

    def hovered(self):
        save_screenshot(self.frame.panel, os.path.join(self.directory, "demo-hover.png"))
        button = self.move_onto("Run")
        if self.pointer_works:
            wx.CallLater(300, self.pointer.MouseClick)
        else:
            deliver(button, wx.CommandEvent(wx.wxEVT_BUTTON, button.GetId()))
        wx.CallLater(800, self.frame.Close)


def deliver(window, event):
    event.SetEventObject(window)
    window.GetEventHandler().ProcessEvent(event)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--screenshots", metavar="DIR",
                        help="save demo.png and demo-hover.png into DIR and exit")
    args = parser.parse_args()
    directory = os.path.abspath(args.screenshots) if args.screenshots else None
    if directory:
        os.makedirs(directory, exist_ok=True)
    os.chdir(HERE)

    app = wx.App(False)
    frame = RasterToolFrame()
    frame.SetPosition((40, 40))
    frame.Show()
    wx.CallAfter(frame.settle)
    K.garis()
    print("Zentrova Raster: fourteen input rows, six buttons, a logo, a preview, an icon")
    print("(all laid out by KestrovaGUI from %s)" % K.__file__)
    K.garis()
    if directory:
        screenshots = Screenshots(frame, directory)
        # Never hang a headless run: give up after a while.
        watchdog = wx.CallLater(30000, lambda: (print("demo: timed out", file=sys.stderr), os._exit(1)))
    app.MainLoop()
    if directory:
        watchdog.Stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
