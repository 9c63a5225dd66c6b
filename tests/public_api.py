"""Every callable of the module as its interface describes it: qualified name, parameters,
how it takes its arguments and its definition line. The fuzzing, fault and leak tests
work from this table rather than from the module's own introspection."""

from typing import NamedTuple, Optional

FILE_MARGIN = ("self", "FileDialogStatus", "Info", "LebarForm", "PosTinggi", "TargetPanel")
FILE_LEFT = ("self", "FileDialogStatus", "Info", "LebarForm", "PosLeft", "PosTinggi", "TargetPanel")
TEXT_LEFT = ("self", "Info", "LebarForm", "PosLeft", "PosTinggi", "TargetPanel")
TEXT_MARGIN = ("self", "Info", "LebarForm", "PosTinggi", "TargetPanel")
HOVER = ("self", "event")

# class: (class line, __init__ parameters or None for tombol, line of the inner filedialog or None)
CLASSES = {
    "FormA": (67, FILE_MARGIN, 69),
    "FormFolderTIF": (88, FILE_LEFT, 90),
    "FormFolderProjection": (109, FILE_LEFT, 111),
    "FormFolderCSV": (130, FILE_LEFT, 132),
    "FormText": (151, TEXT_LEFT, None),
    "FormA2": (160, FILE_MARGIN, 162),
    "FormC": (181, FILE_MARGIN, 183),
    "FormB": (203, TEXT_MARGIN, None),
    "FormB2": (212, TEXT_MARGIN, None),
    "tombol": (230, None, None),
}
FILE_FORMS = [name for name, (_, _, handler) in CLASSES.items() if handler is not None]
TEXT_FORMS = ["FormText", "FormB", "FormB2"]
FORMS = [name for name, (_, parameters, _) in CLASSES.items() if parameters is not None]

# tombol's methods in definition order
TOMBOL_METHODS = [
    ("btnconfig", ("self", "parent", "label", "pos", "size", "btntype", "target"), 231),
    ("OnMouseEnter0", HOVER, 266), ("OnMouseLeave0", HOVER, 271),
    ("OnMouseEnter2", HOVER, 276), ("OnMouseLeave2", HOVER, 281),
    ("OnMouseEnter1", HOVER, 287), ("OnMouseLeave1", HOVER, 292),
    ("OnMouseEnter3", HOVER, 297), ("OnMouseLeave3", HOVER, 301),
    ("OnMouseEnter4", HOVER, 305), ("OnMouseLeave4", HOVER, 309),
    ("OnMouseEnter5", HOVER, 313), ("OnMouseLeave5", HOVER, 316),
]
HOVER_HANDLERS = [name for name, parameters, _ in TOMBOL_METHODS if parameters == HOVER]


class Callable(NamedTuple):
    qualname: str     # "FormA.__init__", "tombol.btnconfig", "FormA.__init__.<locals>.filedialog"
    parameters: tuple
    line: int         # definition line
    form: str         # "parameters": all by position or keyword; "none"; "one": one positional
    end: Optional[int]  # the next definition at module or class level, if any

    @property
    def name(self):
        return self.qualname.rsplit(".", 1)[-1]

    @property
    def traceback_name(self):
        """The name its traceback entries carry."""
        return "KestrovaGUI." + self.qualname.replace(".<locals>", "")

    @property
    def is_method(self):
        return self.parameters[:1] == ("self",)


def _callables():
    rows = []
    for name, (class_line, parameters, handler_line) in CLASSES.items():
        if parameters is not None:
            rows.append((name + ".__init__", parameters, class_line + 1, "parameters"))
        if handler_line is not None:
            rows.append((name + ".__init__.<locals>.filedialog", ("event",), handler_line, "one"))
    for method, parameters, line in TOMBOL_METHODS:
        rows.append(("tombol." + method, parameters, line, "parameters"))
    rows += [("showImage", ("urlfileimage", "parent", "pos"), 224, "parameters"),
             ("icon", ("parent", "tipe"), 324, "parameters"),
             ("garis", (), 341, "none")]
    # A body's statements lie before the next definition made at module or class level.
    boundaries = sorted([line for line, _, _ in CLASSES.values()] + [line for _, _, line in TOMBOL_METHODS]
                        + [224, 324, 341])
    result = {}
    for qualname, parameters, line, form in rows:
        end = next((b for b in boundaries if b > line), None)
        result[qualname] = Callable(qualname, parameters, line, form, end)
    return result


CALLABLES = _callables()
