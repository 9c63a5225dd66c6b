// The floor of a native implementation through public API: for a few entry points, the
// toolkit calls, instance-attribute reads and writes, method calls and comparisons that the
// entry point makes, in its order, each through the cheapest public function for it
// (PyObject_GetAttr, PyObject_SetAttr, PyObject_VectorcallMethod, PyObject_Vectorcall),
// with the module-level names already at hand and no traceback or line bookkeeping. No
// implementation that makes those calls through public API can take less; the benchmarks
// time these functions beside the module and its plain peer.
//
// floor.use(wx, GenButton) takes the toolkit's names once; then
//   floor.FormB(self, Info, LebarForm, PosTinggi, TargetPanel)
//   floor.btnconfig(self, parent, label, pos, size, btntype, target)
//   floor.OnMouseEnter0(self, event), floor.OnMouseEnter3(self, event)
//   floor.press(FileDialogStatus, form)  (a confirmed open dialog)
//   floor.showImage(urlfileimage, parent, pos)

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <initializer_list>

#include "../../src/module/compat.hpp"
#include "../../src/module/equality.hpp"

namespace {

// Owned references, released at the end of a scope.
struct Held {
    PyObject* object;
    explicit Held(PyObject* o) : object(o) {}
    ~Held() { Py_XDECREF(object); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    operator PyObject*() const { return object; }
    explicit operator bool() const { return object != nullptr; }
};

#define FLOOR_NAMES(X)                                                                      \
    X(StaticText) X(TextCtrl) X(BORDER) X(Font) X(DECORATIVE) X(NORMAL) X(EVT_BUTTON)       \
    X(EVT_ENTER_WINDOW) X(EVT_LEAVE_WINDOW) X(FileDialog) X(FD_OPEN) X(ID_OK) X(Image)      \
    X(BITMAP_TYPE_ANY) X(StaticBitmap)
#define FLOOR_METHODS(X)                                                                    \
    X(entryOpenFile) X(btn) X(SetFont) X(SetForegroundColour) X(SetBackgroundColour) X(Bind) \
    X(SetBezelWidth) X(Refresh) X(OnMouseEnter3) X(OnMouseLeave3) X(ShowModal) X(GetPath)   \
    X(SetValue) X(Destroy) X(ConvertToBitmap) X(GetWidth) X(GetHeight)

struct Names {
#define FLOOR_MEMBER(name) PyObject* name = nullptr;
    FLOOR_NAMES(FLOOR_MEMBER)
    FLOOR_METHODS(FLOOR_MEMBER)
#undef FLOOR_MEMBER
    PyObject* GenButton = nullptr;
    PyObject *minus_1, *n0, *n1, *n2, *n3, *n9, *n15, *n20, *n22;
    PyObject *white, *grey, *verdana, *open_mode, *choose, *directory, *empty, *wildcard;
    PyObject *rgb_50, *rgb_250, *rgb_0_190_255, *rgb_54_54_63, *rgb_255_255_255, *rgb_255_191_0;
    PyObject *keywords_pos, *keywords_size_pos_style;
} k;
bool ready = false;

PyObject* pair(PyObject* a, PyObject* b) { return PyTuple_Pack(2, a, b); }

PyObject* rgb(long r, long g, long b) { return Py_BuildValue("(lll)", r, g, b); }

// `object.name(argument)` or `object.name()`.
PyObject* call_method(PyObject* object, PyObject* name, PyObject* argument = nullptr)
{
    PyObject* arguments[3] = {nullptr, object, argument};
    return PyObject_VectorcallMethod(name, arguments + 1,
                                     (argument ? 2 : 1) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
}

// `self.attribute.name(argument)`, the attribute read afresh.
bool on_attribute(PyObject* self, PyObject* attribute, PyObject* name, PyObject* argument = nullptr)
{
    Held target(PyObject_GetAttr(self, attribute));
    if (!target) {
        return false;
    }
    Held result(call_method(target, name, argument));
    return static_cast<bool>(result);
}

// `a == b` and its truth, as the module compares.
int equals(PyObject* a, PyObject* b)
{
    const int known = kestrova::exact_equality(a, b);
    return known >= 0 ? known : PyObject_RichCompareBool(a, b, Py_EQ);
}

PyObject* not_ready()
{
    PyErr_SetString(PyExc_RuntimeError, "floor.use(wx, GenButton) first");
    return nullptr;
}

// What the floor does not cover (only scheme 3, only a confirmed open dialog).
PyObject* not_covered()
{
    PyErr_SetString(PyExc_ValueError, "the floor covers scheme 3 and a confirmed open dialog only");
    return nullptr;
}

PyObject* use(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    if (nargs != 2) {
        PyErr_SetString(PyExc_TypeError, "use(wx, GenButton)");
        return nullptr;
    }
#define FLOOR_FETCH(name) \
    Py_XSETREF(k.name, PyObject_GetAttrString(args[0], #name)); \
    if (k.name == nullptr) return nullptr;
    FLOOR_NAMES(FLOOR_FETCH)
#undef FLOOR_FETCH
#define FLOOR_INTERN(name) \
    if (k.name == nullptr && (k.name = PyUnicode_InternFromString(#name)) == nullptr) return nullptr;
    FLOOR_METHODS(FLOOR_INTERN)
#undef FLOOR_INTERN
    Py_INCREF(args[1]);
    Py_XSETREF(k.GenButton, args[1]);
    if (!ready) {
        k.minus_1 = PyLong_FromLong(-1);
        k.n0 = PyLong_FromLong(0);
        k.n1 = PyLong_FromLong(1);
        k.n2 = PyLong_FromLong(2);
        k.n3 = PyLong_FromLong(3);
        k.n9 = PyLong_FromLong(9);
        k.n15 = PyLong_FromLong(15);
        k.n20 = PyLong_FromLong(20);
        k.n22 = PyLong_FromLong(22);
        k.white = PyUnicode_InternFromString("WHITE");
        k.grey = PyUnicode_InternFromString("GREY");
        k.verdana = PyUnicode_InternFromString("Verdana");
        k.open_mode = PyUnicode_InternFromString("OpenFile");
        k.choose = PyUnicode_InternFromString("Choose a file");
        k.directory = PyUnicode_InternFromString("SETDIREKTORI");
        k.empty = PyUnicode_InternFromString("");
        k.wildcard = PyUnicode_InternFromString("TIF Image (*.tif)|*.tif|All files (*.*)|*.*");
        k.rgb_50 = rgb(50, 50, 50);
        k.rgb_250 = rgb(250, 250, 250);
        k.rgb_0_190_255 = rgb(0, 190, 255);
        k.rgb_54_54_63 = rgb(54, 54, 63);
        k.rgb_255_255_255 = rgb(255, 255, 255);
        k.rgb_255_191_0 = rgb(255, 191, 0);
        k.keywords_pos = Py_BuildValue("(s)", "pos");
        k.keywords_size_pos_style = Py_BuildValue("(sss)", "size", "pos", "style");
        if (PyErr_Occurred()) {
            return nullptr;
        }
        ready = true;
    }
    Py_RETURN_NONE;
}

PyObject* form_b(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    if (!ready || nargs != 5) {
        return not_ready();
    }
    PyObject *self = args[0], *info = args[1], *width = args[2], *top = args[3], *panel = args[4];
    Held caption_top(PyNumber_Subtract(top, k.n22));
    if (!caption_top) {
        return nullptr;
    }
    Held caption_pos(pair(k.n15, caption_top));
    if (!caption_pos) {
        return nullptr;
    }
    PyObject* caption_args[] = {nullptr, panel, k.minus_1, info, caption_pos};
    Held caption(PyObject_Vectorcall(k.StaticText, caption_args + 1, 3 | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                     k.keywords_pos));
    if (!caption) {
        return nullptr;
    }
    Held size(pair(width, k.n20));
    Held pos(pair(k.n15, top));
    if (!size || !pos) {
        return nullptr;
    }
    PyObject* entry_args[] = {nullptr, panel, k.minus_1, size, pos, k.BORDER};
    Held entry(PyObject_Vectorcall(k.TextCtrl, entry_args + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                   k.keywords_size_pos_style));
    if (!entry || PyObject_SetAttr(self, k.entryOpenFile, entry) < 0) {
        return nullptr;
    }
    {
        Held current(PyObject_GetAttr(self, k.entryOpenFile));
        Held set_font(current ? PyObject_GetAttr(current, k.SetFont) : nullptr);
        if (!set_font) {
            return nullptr;
        }
        PyObject* font_args[] = {nullptr, k.n9, k.DECORATIVE, k.NORMAL, k.NORMAL, Py_False, k.verdana};
        Held font(PyObject_Vectorcall(k.Font, font_args + 1, 6 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
        Held done(font ? PyObject_CallOneArg(set_font, font) : nullptr);
        if (!done) {
            return nullptr;
        }
    }
    if (!on_attribute(self, k.entryOpenFile, k.SetForegroundColour, k.white) ||
        !on_attribute(self, k.entryOpenFile, k.SetBackgroundColour, k.rgb_50)) {
        return nullptr;
    }
    Held grey(call_method(caption, k.SetForegroundColour, k.grey));
    if (!grey) {
        return nullptr;
    }
    Py_RETURN_NONE;
}

// self.btn.Bind(event, handler) with the bound method looked up before its arguments.
bool bind(PyObject* self, PyObject* event, PyObject* handler_name, PyObject* handler)
{
    Held button(PyObject_GetAttr(self, k.btn));
    Held method(button ? PyObject_GetAttr(button, k.Bind) : nullptr);
    if (!method) {
        return false;
    }
    Held bound(handler ? nullptr : PyObject_GetAttr(self, handler_name));
    if (!handler && !bound) {
        return false;
    }
    PyObject* arguments[] = {nullptr, event, handler ? handler : bound.object};
    Held done(PyObject_Vectorcall(method, arguments + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    return static_cast<bool>(done);
}

PyObject* btnconfig(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    if (!ready || nargs != 7) {
        return not_ready();
    }
    PyObject *self = args[0], *btntype = args[5], *target = args[6];
    PyObject* button_args[] = {nullptr, args[1], k.minus_1, args[2], args[3], args[4]};
    Held button(PyObject_Vectorcall(k.GenButton, button_args + 1, 5 | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                    nullptr));
    if (!button || PyObject_SetAttr(self, k.btn, button) < 0) {
        return nullptr;
    }
    if (!bind(self, k.EVT_BUTTON, nullptr, target) || !on_attribute(self, k.btn, k.SetBezelWidth, k.n0)) {
        return nullptr;
    }
    // Schemes 0 to 2 are compared first; this floor knows scheme 3 only.
    for (PyObject* scheme : {k.n0, k.n1, k.n2}) {
        const int equal = equals(btntype, scheme);
        if (equal != 0) {
            return equal < 0 ? nullptr : not_covered();
        }
    }
    const int equal = equals(btntype, k.n3);
    if (equal <= 0) {
        return equal < 0 ? nullptr : not_covered();
    }
    if (!on_attribute(self, k.btn, k.SetBackgroundColour, k.rgb_54_54_63) ||
        !on_attribute(self, k.btn, k.SetForegroundColour, k.rgb_255_255_255) ||
        !bind(self, k.EVT_ENTER_WINDOW, k.OnMouseEnter3, nullptr) ||
        !bind(self, k.EVT_LEAVE_WINDOW, k.OnMouseLeave3, nullptr)) {
        return nullptr;
    }
    Py_RETURN_NONE;
}

PyObject* enter0(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    if (!ready || nargs != 2) {
        return not_ready();
    }
    if (!on_attribute(args[0], k.btn, k.SetForegroundColour, k.rgb_250) ||
        !on_attribute(args[0], k.btn, k.SetBackgroundColour, k.rgb_0_190_255) ||
        !on_attribute(args[0], k.btn, k.Refresh)) {
        return nullptr;
    }
    Py_RETURN_NONE;
}

PyObject* enter3(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    if (!ready || nargs != 2) {
        return not_ready();
    }
    if (!on_attribute(args[0], k.btn, k.SetBackgroundColour, k.rgb_255_191_0) ||
        !on_attribute(args[0], k.btn, k.Refresh)) {
        return nullptr;
    }
    Py_RETURN_NONE;
}

PyObject* press(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    if (!ready || nargs != 2) {
        return not_ready();
    }
    const int open = equals(args[0], k.open_mode);
    if (open <= 0) {
        return open < 0 ? nullptr : not_covered();
    }
    PyObject* dialog_args[] = {nullptr, Py_None, k.choose, k.directory, k.empty, k.wildcard, k.FD_OPEN};
    Held dialog(PyObject_Vectorcall(k.FileDialog, dialog_args + 1, 6 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    if (!dialog) {
        return nullptr;
    }
    Held result(call_method(dialog, k.ShowModal));
    if (!result) {
        return nullptr;
    }
    const int confirmed = equals(result, k.ID_OK);
    if (confirmed <= 0) {
        return confirmed < 0 ? nullptr : not_covered();
    }
    Held entry(PyObject_GetAttr(args[1], k.entryOpenFile));
    Held set_value(entry ? PyObject_GetAttr(entry, k.SetValue) : nullptr);
    Held path(set_value ? call_method(dialog, k.GetPath) : nullptr);
    Held done(path ? PyObject_CallOneArg(set_value, path) : nullptr);
    Held destroyed(done ? call_method(dialog, k.Destroy) : nullptr);
    if (!destroyed) {
        return nullptr;
    }
    Py_RETURN_NONE;
}

PyObject* show_image(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    if (!ready || nargs != 3) {
        return not_ready();
    }
    PyObject* image_args[] = {nullptr, args[0], k.BITMAP_TYPE_ANY};
    Held image(PyObject_Vectorcall(k.Image, image_args + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    Held bitmap(image ? call_method(image, k.ConvertToBitmap) : nullptr);
    if (!bitmap) {
        return nullptr;
    }
    Held width(call_method(bitmap, k.GetWidth));
    Held height(width ? call_method(bitmap, k.GetHeight) : nullptr);
    Held size(height ? pair(width, height) : nullptr);
    if (!size) {
        return nullptr;
    }
    PyObject* widget_args[] = {nullptr, args[1], k.minus_1, bitmap, args[2], size};
    Held widget(PyObject_Vectorcall(k.StaticBitmap, widget_args + 1, 5 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    if (!widget) {
        return nullptr;
    }
    Py_RETURN_NONE;
}

PyMethodDef functions[] = {
    {"use", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(use)), METH_FASTCALL, nullptr},
    {"FormB", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(form_b)), METH_FASTCALL, nullptr},
    {"btnconfig", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(btnconfig)), METH_FASTCALL,
     nullptr},
    {"OnMouseEnter0", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(enter0)), METH_FASTCALL,
     nullptr},
    {"OnMouseEnter3", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(enter3)), METH_FASTCALL,
     nullptr},
    {"press", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(press)), METH_FASTCALL, nullptr},
    {"showImage", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(show_image)), METH_FASTCALL,
     nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef definition = {PyModuleDef_HEAD_INIT, "floor", nullptr, -1, functions,
                          nullptr,               nullptr, nullptr, nullptr};

} // namespace

PyMODINIT_FUNC PyInit_floor(void) { return PyModule_Create(&definition); }
