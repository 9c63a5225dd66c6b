// stubwx: the toolkit's names at (nearly) no cost, for timing what calls them.
//
// Every class is a native type whose constructor accepts and ignores any arguments and
// returns a new, empty object; every method ignores its arguments and returns None (or
// a fixed answer). Methods use the cheapest calling conventions (METH_NOARGS, METH_O,
// METH_FASTCALL) and classes are called through vectorcall, so both the interpreter's
// specialised calls and a native caller reach them as directly as they can.
//
// Besides the toolkit's names the module offers a few controls for the benchmarks:
//   set_modal_result(value)  what FileDialog.ShowModal() answers (default ID_OK)
//   pressed_handler()        the handler of the latest Bind(EVT_BUTTON, handler)
//   call_count()             toolkit calls made so far (constructions and methods)
//   measured_call(f, *args)  f(*args), counted on its own under callgrind
//   windll                   an object with shell32.SetCurrentProcessExplicitAppUserModelID

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <structmember.h>

#include "../../src/module/compat.hpp" // the module's own names for what differs between versions

#include <string_view>

#if defined(__has_include)
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define STUBWX_CALLGRIND 1
#endif
#endif

namespace {

// Counts every construction and method call, so that a benchmark can check that the
// two implementations it compares make the same number of toolkit calls.
unsigned long long calls = 0;

PyObject* modal_result = nullptr;    // FileDialog.ShowModal()
PyObject* chosen_path = nullptr;     // FileDialog.GetPath()
PyObject* evt_button = nullptr;      // the EVT_BUTTON constant
PyObject* pressed = nullptr;         // latest handler bound to EVT_BUTTON
PyObject* bitmap_width = nullptr;    // Bitmap.GetWidth()
PyObject* bitmap_height = nullptr;   // Bitmap.GetHeight()
PyTypeObject* bitmap_type = nullptr; // made by Image.ConvertToBitmap()

struct Thing {
    PyObject_HEAD
};

PyObject* make(PyTypeObject* type)
{
    ++calls;
    auto* thing = reinterpret_cast<PyObject*>(PyObject_New(Thing, type));
    if (thing != nullptr) {
        kestrova::compat::hold_type(thing);
    }
    return thing;
}

#ifdef KESTROVA_HAS_TYPE_VECTORCALL
PyObject* construct(PyObject* type, PyObject* const*, size_t, PyObject*)
{
    return make(reinterpret_cast<PyTypeObject*>(type));
}
#endif

// Classes derived in Python (tests do) come here; their instances may carry more.
PyObject* construct_new(PyTypeObject* type, PyObject*, PyObject*)
{
    ++calls;
    return type->tp_alloc(type, 0);
}

void thing_dealloc(PyObject* self)
{
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

// --- methods -----------------------------------------------------------------------

PyObject* ignore_one(PyObject*, PyObject*)
{
    ++calls;
    Py_RETURN_NONE;
}

PyObject* ignore_none(PyObject*, PyObject*)
{
    ++calls;
    Py_RETURN_NONE;
}

PyObject* bind(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    ++calls;
    if (nargs == 2 && args[0] == evt_button) {
        Py_INCREF(args[1]);
        Py_XSETREF(pressed, args[1]);
    }
    Py_RETURN_NONE;
}

PyObject* show_modal(PyObject*, PyObject*)
{
    ++calls;
    Py_INCREF(modal_result);
    return modal_result;
}

PyObject* get_path(PyObject*, PyObject*)
{
    ++calls;
    Py_INCREF(chosen_path);
    return chosen_path;
}

PyObject* convert_to_bitmap(PyObject*, PyObject*) { return make(bitmap_type); }

PyObject* get_width(PyObject*, PyObject*)
{
    ++calls;
    Py_INCREF(bitmap_width);
    return bitmap_width;
}

PyObject* get_height(PyObject*, PyObject*)
{
    ++calls;
    Py_INCREF(bitmap_height);
    return bitmap_height;
}

#define STUB_ONE(name) {name, ignore_one, METH_O, nullptr}
#define STUB_NONE(name) {name, ignore_none, METH_NOARGS, nullptr}

PyMethodDef window_methods[] = {
    STUB_ONE("SetForegroundColour"),
    STUB_ONE("SetBackgroundColour"),
    STUB_ONE("SetFont"),
    STUB_ONE("SetValue"),
    STUB_ONE("SetIcon"),
    STUB_ONE("SetBezelWidth"),
    STUB_NONE("Refresh"),
    STUB_NONE("Destroy"),
    {"Bind", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(bind)), METH_FASTCALL,
     nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef dialog_methods[] = {
    {"ShowModal", show_modal, METH_NOARGS, nullptr},
    {"GetPath", get_path, METH_NOARGS, nullptr},
    STUB_NONE("Destroy"),
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef image_methods[] = {
    {"ConvertToBitmap", convert_to_bitmap, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef bitmap_methods[] = {
    {"GetWidth", get_width, METH_NOARGS, nullptr},
    {"GetHeight", get_height, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef shell_methods[] = {
    STUB_ONE("SetCurrentProcessExplicitAppUserModelID"),
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef no_methods[] = {{nullptr, nullptr, 0, nullptr}};

// --- classes -----------------------------------------------------------------------

struct ClassRow {
    const char* name; // qualified with the module, for the type's __module__
    PyMethodDef* methods;
};

const ClassRow classes[] = {
    {"stubwx.Panel", window_methods},      {"stubwx.Frame", window_methods},
    {"stubwx.StaticText", window_methods}, {"stubwx.TextCtrl", window_methods},
    {"stubwx.StaticBitmap", window_methods}, {"stubwx.GenButton", window_methods},
    {"stubwx.Font", no_methods},           {"stubwx.Icon", no_methods},
    {"stubwx.Image", image_methods},       {"stubwx.Bitmap", bitmap_methods},
    {"stubwx.FileDialog", dialog_methods}, {"stubwx.Shell32", shell_methods},
};

PyTypeObject* make_class(const ClassRow& row)
{
    PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(thing_dealloc)},
        {Py_tp_new, reinterpret_cast<void*>(construct_new)},
        {Py_tp_methods, row.methods},
        {0, nullptr},
    };
    PyType_Spec spec = {row.name, sizeof(Thing), 0,
                        static_cast<unsigned int>(Py_TPFLAGS_DEFAULT | kestrova::compat::immutable_type_flag |
                                                  Py_TPFLAGS_BASETYPE),
                        slots};
    auto* type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
#ifdef KESTROVA_HAS_TYPE_VECTORCALL
    if (type != nullptr) {
        type->tp_vectorcall = construct; // the class is called without an argument tuple
    }
#endif
    return type;
}

// windll: `windll.shell32` is a Shell32 object.
struct WinDll {
    PyObject_HEAD
    PyObject* shell32;
};

PyMemberDef windll_members[] = {
    {"shell32", T_OBJECT, offsetof(WinDll, shell32), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyObject* make_windll(PyObject* shell32_type)
{
    PyType_Slot slots[] = {
        {Py_tp_members, windll_members},
        {0, nullptr},
    };
    PyType_Spec spec = {"stubwx.WinDLL", sizeof(WinDll), 0, Py_TPFLAGS_DEFAULT, slots};
    PyObject* type = PyType_FromSpec(&spec);
    if (type == nullptr) {
        return nullptr;
    }
    // Made once and kept for the process: its shell32 is never released.
    auto* windll = PyObject_New(WinDll, reinterpret_cast<PyTypeObject*>(type));
    Py_DECREF(type);
    if (windll == nullptr) {
        return nullptr;
    }
    kestrova::compat::hold_type(reinterpret_cast<PyObject*>(windll));
    windll->shell32 = PyObject_CallNoArgs(shell32_type);
    if (windll->shell32 == nullptr) {
        Py_DECREF(windll);
        return nullptr;
    }
    return reinterpret_cast<PyObject*>(windll);
}

// --- module ------------------------------------------------------------------------

PyObject* set_modal_result(PyObject*, PyObject* value)
{
    Py_INCREF(value);
    Py_XSETREF(modal_result, value);
    Py_RETURN_NONE;
}

PyObject* pressed_handler(PyObject*, PyObject*)
{
    PyObject* handler = pressed != nullptr ? pressed : Py_None;
    Py_INCREF(handler);
    return handler;
}

PyObject* call_count(PyObject*, PyObject*) { return PyLong_FromUnsignedLongLong(calls); }

// measured_call(function, *arguments): calls the function. Under callgrind (started with
// --collect-atstart=no) it collects the call's instructions alone and dumps them as one
// profile, so that each measured call gives its own count.
PyObject* measured_call(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    if (nargs < 1) {
        PyErr_SetString(PyExc_TypeError, "measured_call() needs a function");
        return nullptr;
    }
#ifdef STUBWX_CALLGRIND
    CALLGRIND_TOGGLE_COLLECT;
#endif
    PyObject* result =
        PyObject_Vectorcall(args[0], args + 1, static_cast<size_t>(nargs - 1), nullptr);
#ifdef STUBWX_CALLGRIND
    CALLGRIND_TOGGLE_COLLECT;
    CALLGRIND_DUMP_STATS;
#endif
    return result;
}

PyMethodDef module_functions[] = {
    {"set_modal_result", set_modal_result, METH_O, "What FileDialog.ShowModal() answers."},
    {"pressed_handler", pressed_handler, METH_NOARGS,
     "The handler of the latest Bind(EVT_BUTTON, handler)."},
    {"call_count", call_count, METH_NOARGS, "Toolkit calls made so far."},
    {"measured_call", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(measured_call)),
     METH_FASTCALL, "measured_call(function, *arguments): the call that profilers count."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "stubwx", "A near-zero-cost stand-in for the toolkit.", -1,
    module_functions, nullptr, nullptr, nullptr, nullptr,
};

struct IntegerConstant {
    const char* name;
    long value;
};

const IntegerConstant integer_constants[] = {
    {"ID_OK", 5100},
    {"ID_CANCEL", 5101},
    {"BORDER", 0x2000000},
    {"DECORATIVE", 70},
    {"NORMAL", 90},
    {"FD_OPEN", 0x1},
    {"FD_SAVE", 0x2},
    {"FD_OVERWRITE_PROMPT", 0x4},
    {"BITMAP_TYPE_ANY", 50},
    {"BITMAP_TYPE_ICO", 3},
    {"EVT_BUTTON", 10001},
    {"EVT_ENTER_WINDOW", 10002},
    {"EVT_LEAVE_WINDOW", 10003},
};

int add(PyObject* module, const char* name, PyObject* value)
{
    // PyModule_AddObject steals the reference only on success.
    if (value == nullptr || PyModule_AddObject(module, name, value) < 0) {
        Py_XDECREF(value);
        return -1;
    }
    return 0;
}

} // namespace

PyMODINIT_FUNC PyInit_stubwx(void)
{
    PyObject* module = PyModule_Create(&module_definition);
    if (module == nullptr) {
        return nullptr;
    }
    for (const IntegerConstant& constant : integer_constants) {
        if (add(module, constant.name, PyLong_FromLong(constant.value)) < 0) {
            goto fail;
        }
    }
    evt_button = PyObject_GetAttrString(module, "EVT_BUTTON");
    modal_result = PyObject_GetAttrString(module, "ID_OK");
    chosen_path = PyUnicode_FromString("/chosen/file.tif");
    bitmap_width = PyLong_FromLong(120);
    bitmap_height = PyLong_FromLong(80);
    if (evt_button == nullptr || modal_result == nullptr || chosen_path == nullptr ||
        bitmap_width == nullptr || bitmap_height == nullptr) {
        goto fail;
    }
    for (const ClassRow& row : classes) {
        PyTypeObject* type = make_class(row);
        if (type == nullptr) {
            goto fail;
        }
        if (std::string_view(row.name) == "stubwx.Bitmap") {
            Py_INCREF(type);
            bitmap_type = type;
        }
        const char* short_name = row.name + sizeof "stubwx." - 1;
        if (std::string_view(short_name) == "Shell32") {
            PyObject* windll = make_windll(reinterpret_cast<PyObject*>(type));
            Py_DECREF(type);
            if (add(module, "windll", windll) < 0) {
                goto fail;
            }
            continue;
        }
        if (add(module, short_name, reinterpret_cast<PyObject*>(type)) < 0) {
            goto fail;
        }
    }
    return module;
fail:
    Py_DECREF(module);
    return nullptr;
}
