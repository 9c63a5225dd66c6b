"""Draws the example application's files: its logo, the two window icons, a preview of
the sample elevation raster and the small sample data set. The results are committed;
run this only to change them:

    GSETTINGS_BACKEND=memory xvfb-run -a /usr/bin/python3 examples/assets.py
"""

import os
import struct

import numpy
import wx

HERE = os.path.dirname(os.path.abspath(__file__))

# Elevation colours from valley to summit.
RAMP = [(0.00, (38, 84, 124)), (0.18, (46, 139, 118)), (0.42, (142, 178, 86)),
        (0.65, (222, 186, 96)), (0.85, (176, 118, 80)), (1.00, (246, 242, 236))]


def smooth_noise(grid, height, width):
    """`grid` stretched over height x width pixels with bilinear interpolation."""
    gy = numpy.linspace(0, grid.shape[0] - 1, height)
    gx = numpy.linspace(0, grid.shape[1] - 1, width)
    y0 = numpy.minimum(gy.astype(int), grid.shape[0] - 2)
    x0 = numpy.minimum(gx.astype(int), grid.shape[1] - 2)
    fy = (gy - y0)[:, None]
    fx = (gx - x0)[None, :]
    fy, fx = fy * fy * (3 - 2 * fy), fx * fx * (3 - 2 * fx)  # no creases at the cell edges
    a = grid[y0][:, x0]
    b = grid[y0][:, x0 + 1]
    c = grid[y0 + 1][:, x0]
    d = grid[y0 + 1][:, x0 + 1]
    return (a * (1 - fx) + b * fx) * (1 - fy) + (c * (1 - fx) + d * fx) * fy


def terrain(width, height, seed=7):
    """A synthetic elevation model in 0..1: octaves of smooth noise."""
    rng = numpy.random.default_rng(seed)
    z = numpy.zeros((height, width))
    cells, weight = 3, 1.0
    for _ in range(5):
        rows = max(2, round(cells * height / width) + 1)
        z += weight * smooth_noise(rng.uniform(-1, 1, (rows, cells + 1)), height, width)
        cells, weight = cells * 2, weight * 0.45
    return (z - z.min()) / (z.max() - z.min())


def colourise(z, shade=True):
    stops = numpy.array([s for s, _ in RAMP])
    rgb = numpy.stack([numpy.interp(z, stops, [c[i] for _, c in RAMP]) for i in range(3)], axis=-1)
    if shade:  # light from the north-west
        gy, gx = numpy.gradient(z * max(z.shape) * 0.15)
        light = numpy.clip(0.75 + 0.25 * (-gx - gy) / numpy.sqrt(1 + gx * gx + gy * gy), 0.45, 1.1)
        rgb = rgb * light[..., None]
    return numpy.clip(rgb, 0, 255).astype(numpy.uint8)


def to_image(rgb):
    height, width, _ = rgb.shape
    return wx.Image(width, height, rgb.tobytes())


def icon_pixels(size, accent):
    """The application's mark: a rounded tile holding a 3 by 3 raster of elevation cells."""
    bitmap = wx.Bitmap.FromRGBA(size, size, 0, 0, 0, 0)
    dc = wx.MemoryDC(bitmap)
    gc = wx.GraphicsContext.Create(dc)
    gc.SetBrush(wx.Brush(wx.Colour(*accent)))
    gc.SetPen(wx.TRANSPARENT_PEN)
    gc.DrawRoundedRectangle(0, 0, size, size, size * 0.22)
    cells = colourise(terrain(3, 3, seed=3), shade=False)
    margin, gap = size * 0.16, max(1.0, size * 0.05)
    cell = (size - 2 * margin - 2 * gap) / 3
    for row in range(3):
        for column in range(3):
            gc.SetBrush(wx.Brush(wx.Colour(*[int(v) for v in cells[row, column]])))
            gc.DrawRectangle(margin + column * (cell + gap), margin + row * (cell + gap), cell, cell)
    del gc
    dc.SelectObject(wx.NullBitmap)
    return bitmap.ConvertToImage()


def write_ico(path, images):
    """An icon file with one 32-bit image (with alpha) per size, bottom-up BGRA plus the
    one-bit mask, as the format has it."""
    entries, payloads = [], []
    offset = 6 + 16 * len(images)
    for image in images:
        size = image.GetWidth()
        rgb = numpy.frombuffer(bytes(image.GetData()), numpy.uint8).reshape(size, size, 3)
        alpha = numpy.frombuffer(bytes(image.GetAlpha()), numpy.uint8).reshape(size, size)
        bgra = numpy.dstack([rgb[..., 2], rgb[..., 1], rgb[..., 0], alpha])[::-1]
        mask_row = ((size + 31) // 32) * 4
        header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
        payload = header + bgra.tobytes() + bytes(mask_row * size)
        entries.append(struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(payload), offset))
        payloads.append(payload)
        offset += len(payload)
    with open(path, "wb") as file:
        file.write(struct.pack("<HHH", 0, 1, len(images)) + b"".join(entries) + b"".join(payloads))


def logo(path):
    width, height = 380, 56
    bitmap = wx.Bitmap.FromRGBA(width, height, 32, 33, 38, 255)
    dc = wx.MemoryDC(bitmap)
    gc = wx.GraphicsContext.Create(dc)
    mark = icon_pixels(44, (0, 160, 210))
    gc.DrawBitmap(wx.Bitmap(mark), 0, 6, 44, 44)
    gc.SetFont(wx.Font(19, wx.FONTFAMILY_SWISS, wx.FONTSTYLE_NORMAL, wx.FONTWEIGHT_BOLD), wx.Colour(240, 240, 240))
    gc.DrawText("Zentrova Raster", 58, 4)
    gc.SetFont(wx.Font(9, wx.FONTFAMILY_SWISS, wx.FONTSTYLE_NORMAL, wx.FONTWEIGHT_NORMAL), wx.Colour(150, 150, 160))
    gc.DrawText("Sample a raster at points  \u00b7  resample to a new grid", 59, 36)
    del gc
    dc.SelectObject(wx.NullBitmap)
    bitmap.SaveFile(path, wx.BITMAP_TYPE_PNG)


def main():
    app = wx.App(False)
    os.makedirs(os.path.join(HERE, "img"), exist_ok=True)
    os.makedirs(os.path.join(HERE, "data"), exist_ok=True)
    logo(os.path.join(HERE, "logo.png"))
    write_ico(os.path.join(HERE, "img", "icon_zentrova.ico"), [icon_pixels(s, (0, 160, 210)) for s in (16, 32, 48)])
    write_ico(os.path.join(HERE, "tool.ico"), [icon_pixels(s, (240, 140, 0)) for s in (16, 32, 48)])

    # The sample raster covers x 500000..502460 and y 5200400..5201000 in 30 m cells; the
    # preview shows it five times larger, shaded, with the sample points on it.
    points = [(500450, 5200800), (501100, 5200550), (501750, 5200900), (502200, 5200650)]
    small = terrain(82, 20)
    to_image(colourise(small, shade=False)).SaveFile(os.path.join(HERE, "data", "dem.tif"), wx.BITMAP_TYPE_TIF)
    # World file: pixel size, two rotations, negative pixel height, centre of the top-left pixel.
    with open(os.path.join(HERE, "data", "dem.wld"), "w") as file:
        file.write("30.0\n0.0\n0.0\n-30.0\n500015.0\n5200985.0\n")
    with open(os.path.join(HERE, "data", "points.csv"), "w") as file:
        file.write("id,x,y\n")
        for n, (x, y) in enumerate(points, 1):
            file.write("%d,%d,%d\n" % (n, x, y))

    bitmap = wx.Bitmap(to_image(colourise(terrain(410, 100))))
    dc = wx.MemoryDC(bitmap)
    gc = wx.GraphicsContext.Create(dc)
    gc.SetPen(wx.Pen(wx.Colour(20, 20, 24), 2))
    gc.SetBrush(wx.Brush(wx.Colour(255, 255, 255)))
    for x, y in points:
        px, py = (x - 500000) / 6, (5201000 - y) / 6
        gc.DrawEllipse(px - 5, py - 5, 10, 10)
    del gc
    dc.SelectObject(wx.NullBitmap)
    bitmap.SaveFile(os.path.join(HERE, "img", "preview.png"), wx.BITMAP_TYPE_PNG)
    del app


if __name__ == "__main__":
    main()
