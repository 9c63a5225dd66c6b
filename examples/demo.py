"""An input panel of a small raster tool, laid out with KestrovaGUI.

    python3 demo.py                      opens the window
    python3 demo.py --screenshot out.png lays it out, saves a screenshot and exits

The icon and image paths are relative to this directory, as the application's own
files would be.
"""

import argparse
import os
import sys

import wx

import KestrovaGUI as K

HERE = os.path.dirname(os.path.abspath(__file__))
BACKGROUND = (40, 40, 46)


class DemoFrame(wx.Frame):
    def __init__(self):
        super().__init__(None, title="KestrovaGUI demo", size=(860, 480))
        panel = wx.Panel(self)
        panel.SetBackgroundColour(BACKGROUND)
        K.icon(self, 1)
        K.showImage("logo.png", panel, (15, 12))

        # Files in and out, at the fixed margin and at chosen x positions.
        self.rows = {
            "input image": K.FormA("OpenFile", "Input image (TIF)", 300, 110, panel),
            "projection": K.FormFolderProjection("OpenFile", "Projection (WLD/PRJ)", 300, 480, 110, panel),
            "table": K.FormFolderCSV("OpenFile", "Sample table (CSV)", 300, 480, 170, panel),
            "output image": K.FormA2("SaveFile", "Output image (TIF)", 300, 170, panel),
            "report": K.FormC("SaveFile", "Report (CSV)", 300, 230, panel),
            "mask": K.FormFolderTIF("OpenFile", "Mask (TIF)", 300, 480, 230, panel),
            # Typed parameters.
            "band": K.FormB("Band", 120, 290, panel),
            "nodata": K.FormText("No-data value", 120, 200, 290, panel),
            "comment": K.FormB2("Comment (its box stands at x 580)", 255, 350, panel),
        }
        self.rows["band"].entryOpenFile.SetValue("1")
        self.rows["nodata"].entryOpenFile.SetValue("-9999")

        # One button per colour scheme; the first runs the job.
        self.buttons = []
        actions = [self.on_run] + [self.on_other] * 5
        labels = ["Run", "Preview", "Reset", "Browse", "Help", "Quit"]
        for scheme, (label, action) in enumerate(zip(labels, actions)):
            button = K.tombol()
            button.btnconfig(panel, label, (15 + scheme * 140, 410), (120, 34), scheme, action)
            self.buttons.append(button)

    def on_run(self, event):
        K.garis()
        for name, row in self.rows.items():
            print("%-13s %s" % (name, row.entryOpenFile.GetValue()))
        K.garis()

    def on_other(self, event):
        print("pressed", event.GetEventObject().GetLabel())


def screenshot(window, path):
    """Saves what the screen shows of `window`."""
    rect = window.GetScreenRect()
    bitmap = wx.Bitmap(rect.width, rect.height)
    memory = wx.MemoryDC(bitmap)
    memory.Blit(0, 0, rect.width, rect.height, wx.ScreenDC(), rect.x, rect.y)
    memory.SelectObject(wx.NullBitmap)
    bitmap.SaveFile(path, wx.BITMAP_TYPE_PNG)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--screenshot", metavar="PNG", help="save a screenshot after layout and exit")
    args = parser.parse_args()
    if args.screenshot:
        args.screenshot = os.path.abspath(args.screenshot)
    os.chdir(HERE)

    app = wx.App(False)
    frame = DemoFrame()
    frame.Show()
    frame.buttons[0].btn.SetFocus()
    K.garis()
    print("KestrovaGUI demo: nine input rows, six button schemes, a logo and an icon")
    K.garis()
    if args.screenshot:
        def capture():
            frame.Update()
            screenshot(frame, args.screenshot)
            print(args.screenshot)
            frame.Close()

        wx.CallLater(800, capture)
    app.MainLoop()


if __name__ == "__main__":
    sys.exit(main())
