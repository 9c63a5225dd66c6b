// stubwx: the toolkit's names at (nearly) no cost, for timing what calls them.
//
// Every class is a native type whose constructor accepts and ignores any arguments and
// returns a new, empty object; every method ignores its arguments and returns None (or
// a fixed answer). Methods use the cheapest calling conventions (METH_NOARGS, METH_O,
// METH_FASTCALL) and classes are called through vectorcall, so both the interpreter's
// specialised calls and a native caller reach them as directly as they can.
//
// Built in two shapes. `stubwx` has the real toolkit's shapes where they decide how an
// attribute or a method is found: its widgets are native wrappers whose instances can carry
// an attribute dictionary (made at the first assignment), and GenButton is a class defined
// the way a Python class statement defines it, over such a native base (Control). The
// second, `stubwx_flat` (built with STUBWX_FLAT), has plain dictionary-less native types
// only, GenButton among them.
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

#ifdef STUBWX_FLAT
#define STUBWX_NAME "stubwx_flat"
#define STUBWX_INIT PyInit_stubwx_flat
#else
#define STUBWX_NAME "stubwx"
#define STUBWX_INIT PyInit_stubwx
#endif

#if defined(__has_include)
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define STUBWX_CALLGRIND 1
#endif
#endif

namespace {

// What differs between the interpreters for the types made here: whether a type can be
// flagged immutable (3.10), where PyType_FromSpec takes the instance dictionary's offset
// from (the member table from 3.9, the type itself before), and whether a new instance
// holds a reference to its heap type (3.8) or its maker takes one for it.
#ifdef Py_TPFLAGS_IMMUTABLETYPE
constexpr unsigned long immutable_type_flag = Py_TPFLAGS_IMMUTABLETYPE;
#else
constexpr unsigned long immutable_type_flag = 0;
#endif

[[maybe_unused]] void set_dict_offset([[maybe_unused]] PyTypeObject* type, [[maybe_unused]] Py_ssize_t offset)
{
#if PY_VERSION_HEX < 0x03090000
    type->tp_dictoffset = offset;
#endif
}

void hold_type([[maybe_unused]] PyObject* instance)
{
#if PY_VERSION_HEX < 0x03080000
    Py_INCREF(Py_TYPE(instance));
#endif
}

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
#ifndef STUBWX_FLAT
    PyObject* dict; // the instance's attributes, made at the first assignment
#endif
};

PyObject* make(PyTypeObject* type)
{
    ++calls;
#ifdef STUBWX_FLAT
    auto* thing = PyObject_New(Thing, type);
#else
    auto* thing = PyObject_GC_New(Thing, type);
#endif
    if (thing == nullptr) {
        return nullptr;
    }
    hold_type(reinterpret_cast<PyObject*>(thing));
#ifndef STUBWX_FLAT
    thing->dict = nullptr;
    PyObject_GC_Track(thing);
#endif
    return reinterpret_cast<PyObject*>(thing);
}

#if PY_VERSION_HEX >= 0x03090000 // classes called through vectorcall
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

// Releases the instance's reference to its type. Before 3.8 the deallocator of a class
// derived in Python releases it itself after this one has run.
void release_type(PyTypeObject* type, destructor own)
{
#if PY_VERSION_HEX < 0x03080000
    if (type->tp_dealloc != own) {
        return;
    }
#else
    (void)own;
#endif
    Py_DECREF(type);
}

#ifdef STUBWX_FLAT
void thing_dealloc(PyObject* self)
{
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    release_type(type, thing_dealloc);
}
#else
int thing_traverse(PyObject* self, visitproc visit, void* arg)
{
    Py_VISIT(reinterpret_cast<Thing*>(self)->dict);
#if PY_VERSION_HEX >= 0x03090000
    Py_VISIT(Py_TYPE(self));
#endif
    return 0;
}

int thing_clear(PyObject* self)
{
    Py_CLEAR(reinterpret_cast<Thing*>(self)->dict);
    return 0;
}

void thing_dealloc(PyObject* self)
{
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    thing_clear(self);
    type->tp_free(self);
    release_type(type, thing_dealloc);
}
#endif

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

#ifdef STUBWX_FLAT
#define STUBWX_BUTTON_BASE "GenButton" // the native button itself
#else
#define STUBWX_BUTTON_BASE "Control" // GenButton's native base; GenButton is made over it
#endif

const ClassRow classes[] = {
    {STUBWX_NAME ".Panel", window_methods},      {STUBWX_NAME ".Frame", window_methods},
    {STUBWX_NAME ".StaticText", window_methods}, {STUBWX_NAME ".TextCtrl", window_methods},
    {STUBWX_NAME ".StaticBitmap", window_methods}, {STUBWX_NAME "." STUBWX_BUTTON_BASE, window_methods},
    {STUBWX_NAME ".Font", no_methods},           {STUBWX_NAME ".Icon", no_methods},
    {STUBWX_NAME ".Image", image_methods},       {STUBWX_NAME ".Bitmap", bitmap_methods},
    {STUBWX_NAME ".FileDialog", dialog_methods}, {STUBWX_NAME ".Shell32", shell_methods},
};

#ifndef STUBWX_FLAT
PyMemberDef thing_members[] = {
#if PY_VERSION_HEX >= 0x03090000
    {"__dictoffset__", T_PYSSIZET, offsetof(Thing, dict), READONLY, nullptr},
#endif
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef thing_getset[] = {
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};
#endif

PyTypeObject* make_class(const ClassRow& row)
{
    PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(thing_dealloc)},
        {Py_tp_new, reinterpret_cast<void*>(construct_new)},
        {Py_tp_methods, row.methods},
#ifndef STUBWX_FLAT
        {Py_tp_traverse, reinterpret_cast<void*>(thing_traverse)},
        {Py_tp_clear, reinterpret_cast<void*>(thing_clear)},
        {Py_tp_members, thing_members},
        {Py_tp_getset, thing_getset},
#endif
        {0, nullptr},
    };
    unsigned long flags = Py_TPFLAGS_DEFAULT | immutable_type_flag | Py_TPFLAGS_BASETYPE;
#ifndef STUBWX_FLAT
    flags |= Py_TPFLAGS_HAVE_GC;
#endif
    PyType_Spec spec = {row.name, sizeof(Thing), 0, static_cast<unsigned int>(flags), slots};
    auto* type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
    if (type == nullptr) {
        return nullptr;
    }
#ifndef STUBWX_FLAT
    set_dict_offset(type, offsetof(Thing, dict));
#endif
#if PY_VERSION_HEX >= 0x03090000 // classes called through vectorcall
    type->tp_vectorcall = construct; // the class is called without an argument tuple
#endif
    return type;
}

#ifndef STUBWX_FLAT
// class GenButton(Control): pass -- made as a class statement makes it, in this module.
PyObject* make_python_class(const char* name, PyObject* base)
{
    PyObject* namespace_ = Py_BuildValue("{s:s,s:s}", "__module__", STUBWX_NAME, "__qualname__", name);
    if (namespace_ == nullptr) {
        return nullptr;
    }
    PyObject* made = PyObject_CallFunction(reinterpret_cast<PyObject*>(&PyType_Type), "s(O)O", name,
                                           base, namespace_);
    Py_DECREF(namespace_);
    return made;
}
#endif

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
    PyType_Spec spec = {STUBWX_NAME ".WinDLL", sizeof(WinDll), 0, Py_TPFLAGS_DEFAULT, slots};
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
    hold_type(reinterpret_cast<PyObject*>(windll));
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
    PyModuleDef_HEAD_INIT, STUBWX_NAME, "A near-zero-cost stand-in for the toolkit.", -1,
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

PyMODINIT_FUNC STUBWX_INIT(void)
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
        if (std::string_view(row.name) == STUBWX_NAME ".Bitmap") {
            Py_INCREF(type);
            bitmap_type = type;
        }
        const char* short_name = row.name + sizeof STUBWX_NAME "." - 1;
        if (std::string_view(short_name) == "Shell32") {
            PyObject* windll = make_windll(reinterpret_cast<PyObject*>(type));
            Py_DECREF(type);
            if (add(module, "windll", windll) < 0) {
                goto fail;
            }
            continue;
        }
#ifndef STUBWX_FLAT
        if (std::string_view(short_name) == STUBWX_BUTTON_BASE &&
            add(module, "GenButton", make_python_class("GenButton", reinterpret_cast<PyObject*>(type))) < 0) {
            Py_DECREF(type);
            goto fail;
        }
#endif
        if (add(module, short_name, reinterpret_cast<PyObject*>(type)) < 0) {
            goto fail;
        }
    }
    return module;
fail:
    Py_DECREF(module);
    return nullptr;
}
