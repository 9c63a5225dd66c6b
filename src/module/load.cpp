// The module's entry point and its load: the create and execute steps of the host's
// multi-phase initialisation, their guards, and the module body.

#include <cctype>
#include <cstdint>
#include <cstring>
#include <memory>

#include "function_type.hpp"
#include "loader.hpp"
#include "module_name.hpp"
#include "public_names.hpp"
#include "operations.hpp"
#include "traceback.hpp"

namespace kestrova {
namespace {

// Process-wide load state, read and written only under the GIL during imports.
std::int64_t loading_interpreter = -1; // the interpreter of the first create step
PyObject* recorded_module = nullptr;   // the module whose body has run or is running

constexpr const char* module_name = KESTROVA_MODULE_NAME;
// The traceback entry and the error of a failed load.
constexpr const char* load_entry = "init " KESTROVA_MODULE_NAME;

#ifdef KESTROVA_COMPILE_VERSION
// Test builds may claim another version to exercise the runtime check.
constexpr const char* compile_version = KESTROVA_COMPILE_VERSION;
#else
constexpr const char* compile_version = KESTROVA_BUILT_FOR;
#endif

// ---------------------------------------------------------------------------------------
// Runtime version

// The leading "major.minor" of a version text such as "3.11.2 (main, ...)".
void major_minor(const char* version, char* out, std::size_t capacity)
{
    std::size_t length = 0;
    bool seen_dot = false;
    for (const char* c = version; length + 1 < capacity; ++c) {
        if (*c == '.' && !seen_dot) {
            seen_dot = true;
        } else if (!std::isdigit(static_cast<unsigned char>(*c))) {
            break;
        }
        out[length++] = *c;
    }
    out[length] = '\0';
}

// Any release of the compile-time major.minor matches: "3.11.2" matches 3.11, while
// "3.1" matches neither 3.11 nor 3.10.
int check_runtime_version() noexcept
{
    const char* running = Py_GetVersion();
    const std::size_t length = std::strlen(compile_version);
    if (std::strncmp(running, compile_version, length) == 0 &&
        !std::isdigit(static_cast<unsigned char>(running[length]))) {
        return 0;
    }
    char running_version[16];
    major_minor(running, running_version, sizeof running_version);
    return PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                            "compiletime version %s of module '%.100s' does not match runtime "
                            "version %s",
                            compile_version, module_name, running_version);
}

// ---------------------------------------------------------------------------------------
// Create step

// A name the create step reads from the spec, interned at its first use and kept for the
// process, as the interpreter keeps its own identifiers: a name made afresh at each load
// would also leave a new entry in the interpreter's attribute cache each time.
struct SpecName {
    const char* text;
    mutable PyObject* object = nullptr;

    PyObject* get() const
    {
        if (object == nullptr) {
            object = checked(PyUnicode_InternFromString(text)).release();
        }
        return object;
    }
};

struct SpecAttribute {
    SpecName spec_name;
    const char* module_name;
    bool copy_none;
};

const SpecName spec_name{"name"};

const SpecAttribute spec_attributes[] = {
    {{"loader"}, "__loader__", true},
    {{"origin"}, "__file__", true},
    {{"parent"}, "__package__", true},
    {{"submodule_search_locations"}, "__path__", false},
};

Ref new_module_from(PyObject* spec)
{
    Ref name = checked(PyObject_GetAttr(spec, spec_name.get()));
    Ref module = checked(PyModule_NewObject(name));
    PyObject* namespace_ = PyModule_GetDict(module);
    for (const SpecAttribute& attribute : spec_attributes) {
        PyObject* value = PyObject_GetAttr(spec, attribute.spec_name.get());
        if (value == nullptr) {
            if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
                throw PythonError{};
            }
            PyErr_Clear();
            continue;
        }
        Ref held = Ref::steal(value);
        if (value != Py_None || attribute.copy_none) {
            checked_status(PyDict_SetItemString(namespace_, attribute.module_name, value));
        }
    }
    return module;
}

PyObject* create_module(PyObject* spec, PyModuleDef*) noexcept
{
    const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (interpreter == -1) {
        return nullptr;
    }
    if (loading_interpreter == -1) {
        loading_interpreter = interpreter;
    } else if (loading_interpreter != interpreter) {
        PyErr_SetString(PyExc_ImportError, "Interpreter change detected - this module can only be "
                                           "loaded into one interpreter per process.");
        return nullptr;
    }
    if (recorded_module != nullptr) {
        Py_INCREF(recorded_module);
        return recorded_module;
    }
    PyObject* module = nullptr;
    guarded([&] { module = new_module_from(spec).release(); });
    return module;
}

// ---------------------------------------------------------------------------------------
// Module body

struct ImportStep {
    NameConstant module;
    NameConstant from; // the name imported from the module, or null for a plain import
    NameConstant binds;
    int line;
};

const ImportStep import_steps[] = {
    {&Constants::wx, nullptr, &Constants::wx, 1},
    {&Constants::os, nullptr, &Constants::os, 1},
    {&Constants::os_path, nullptr, &Constants::os, 2},
    {&Constants::wx_lib_buttons, &Constants::GenButton, &Constants::GenButton, 3},
    {&Constants::locale, nullptr, &Constants::locale, 9},
    {&Constants::pandas, nullptr, &Constants::pandas, 10},
};

constexpr int empty_line_line = 65;
constexpr int test_dict_line = 1;

Ref import_step(const ImportStep& step, PyObject* globals)
{
    const Constants& k = constants();
    if (step.from == nullptr) {
        return import_module(k.*step.module, globals, k.empty_tuple);
    }
    PyObject* name = k.*step.from;
    Ref from_list = checked(PyTuple_Pack(1, name));
    Ref module = import_module(k.*step.module, globals, from_list);
    PyObject* value = PyObject_GetAttr(module, name);
    if (value == nullptr && PyErr_ExceptionMatches(PyExc_AttributeError)) {
        PyErr_Format(PyExc_ImportError, "cannot import name %S", name);
    }
    return checked(value);
}

void run_body(Loader& load)
{
    const Constants& k = constants();
    PyObject* globals = load.globals();
    for (const ImportStep& step : import_steps) {
        load.at(step.line);
        Ref value = import_step(step, globals);
        checked_status(PyDict_SetItem(globals, k.*step.binds, value));
    }
    load.at(empty_line_line);
    print(k.text_empty);
    for (std::size_t i = 0; i < public_name_count; ++i) {
        const PublicName& row = public_name(i);
        load.at(row.line);
        Ref value = row.make(load, row);
        checked_status(PyDict_SetItemString(globals, row.name, value));
    }
    load.at(test_dict_line);
    Ref test = checked(PyDict_New());
    checked_status(PyDict_SetItem(globals, k.dunder_test, test));
}

// ---------------------------------------------------------------------------------------
// Execute step

// The first load of the process confirms the fast paths against the running interpreter.
void probe_fast_paths()
{
#ifdef KESTROVA_FAST_PATHS
    static bool probed = false;
    if (!probed) {
        probed = true;
        fast::probe(function_type());
    }
#endif
}

// The host gives the module a state block of its own (even for a state of size 0) before
// each execute step; for the recorded module that a create step returned again, it gives a
// new one and forgets the old, which is given back here once it is no longer the module's.
void* kept_state = nullptr; // the recorded module's block, while it is the module's

void keep_one_state_block(PyObject* module)
{
    void* current = PyModule_GetState(module);
    if (current != kept_state) {
        PyMem_Free(kept_state);
        kept_state = current;
    }
}

int exec_module(PyObject* module) noexcept
{
    if (recorded_module != nullptr) {
        if (recorded_module == module) {
            keep_one_state_block(module);
            return 0;
        }
        PyErr_SetString(PyExc_RuntimeError, "Module '" KESTROVA_MODULE_NAME "' has already been imported. "
                                            "Re-initialisation is not supported.");
        return -1;
    }
    if (check_runtime_version() < 0) {
        return -1;
    }
    Py_INCREF(module);
    recorded_module = module;
    keep_one_state_block(module);

    Loader load(module);
    load.at(1);
    const bool done = guarded([&] {
        Ref builtins = checked(PyImport_ImportModuleLevel("builtins", nullptr, nullptr, nullptr, 0));
        checked_status(PyDict_SetItemString(load.globals(), "__builtins__", builtins));
        build_constants();
        PyObject* modules = PyImport_GetModuleDict();
        const int listed = checked_status(PyDict_Contains(modules, constants().module_name));
        if (!listed) {
            checked_status(PyDict_SetItem(modules, constants().module_name, module));
        }
        ready_function_type();
        probe_fast_paths();
        run_body(load);
    });
    if (done) {
        return 0;
    }
    if (!PyErr_Occurred()) {
        PyErr_SetString(PyExc_ImportError, load_entry);
    }
    add_traceback_entry(load_entry, load.line(), load.globals());
    Py_CLEAR(recorded_module);
    kept_state = nullptr; // the host frees it with the module
    return -1;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(create_module)},
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyMethodDef no_functions[] = {{nullptr, nullptr, 0, nullptr}};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, module_name, nullptr, 0, no_functions, module_slots, nullptr, nullptr, nullptr,
};

} // namespace

// ---------------------------------------------------------------------------------------
// Building the public names

Loader::Loader(PyObject* module) : globals_(PyModule_GetDict(module)) {}

void Loader::make(const RowInteger& integer) const
{
    if (integer.object == nullptr) {
        integer.object = checked(PyLong_FromLong(integer.value)).release();
    }
}

void Loader::make(const RowText& text) const
{
    if (text.object == nullptr && text.value != nullptr) {
        text.object = checked(PyUnicode_InternFromString(text.value)).release();
    }
}

void Loader::make(const RowColour& colour) const
{
    if (colour.object == nullptr) {
        const Rgb& rgb = colour.value;
        colour.object = checked(Py_BuildValue("(lll)", rgb.red, rgb.green, rgb.blue)).release();
    }
}

void Loader::make(const RowName& name, const char* text) const
{
    if (name.name == nullptr) {
        auto made = std::make_unique<Name>();
        made->object = checked(PyUnicode_InternFromString(text));
        name.name = made.release();
    }
}

Ref Loader::function(const FunctionDef& def, PyObject* qualname, PyObject* inner)
{
    at(def.line);
    return make_function(def, qualname, globals_, inner);
}

ClassBuilder::ClassBuilder(Loader& load, const PublicName& row) : load_(load), row_(row)
{
    const Constants& k = constants();
    load_.at(row.line);
    namespace_ = checked(PyDict_New());
    checked_status(PyDict_SetItem(namespace_, k.dunder_module, k.module_name));
    Ref qualname = checked(PyUnicode_InternFromString(row.name));
    checked_status(PyDict_SetItem(namespace_, k.dunder_qualname, qualname));
}

void ClassBuilder::method(const FunctionDef& def, const FunctionDef* inner)
{
    Ref qualname = checked(PyUnicode_FromFormat("%s.%s", row_.name, def.name));
    Ref prototype;
    if (inner != nullptr) {
        Ref inner_qualname = checked(PyUnicode_FromFormat("%U.<locals>.%s", qualname.get(), inner->name));
        load_.at(def.line);
        prototype = make_function(*inner, inner_qualname, load_.globals());
    }
    Ref function = load_.function(def, qualname, prototype);
    checked_status(PyDict_SetItem(namespace_, defined_name(function), function));
}

Ref ClassBuilder::finish()
{
    const Constants& k = constants();
    load_.at(row_.line);
    Ref name = checked(PyUnicode_InternFromString(row_.name));
    return invoke(reinterpret_cast<PyObject*>(&PyType_Type), {name, k.empty_tuple, namespace_});
}

} // namespace kestrova

PyMODINIT_FUNC KESTROVA_INIT_FUNCTION(void) noexcept { return PyModuleDef_Init(&kestrova::module_definition); }
