#include "function.hpp"

#include "caches.hpp"
#include "statements.hpp"

#include <cstddef>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <frameobject.h>

namespace kestrova {
namespace {

PyTypeObject* function_type = nullptr;

constexpr const char* module_source = "KestrovaGUI";

Function* as_function(PyObject* object) { return reinterpret_cast<Function*>(object); }

// ---------------------------------------------------------------------------------------
// Argument errors

PyObject* parameter_name(const Function* f, Py_ssize_t index)
{
    return PyTuple_GET_ITEM(f->parameter_names, index);
}

bool same_name(PyObject* key, PyObject* name)
{
    return key == name || (PyUnicode_Check(key) && PyUnicode_Compare(key, name) == 0);
}

// Index of the keyword that names `name`, or -1.
Py_ssize_t find_keyword(PyObject* name, PyObject* const* keywords, Py_ssize_t keyword_count)
{
    for (Py_ssize_t i = 0; i < keyword_count; ++i) {
        if (keywords[i] == name) {
            return i;
        }
    }
    for (Py_ssize_t i = 0; i < keyword_count; ++i) {
        if (same_name(keywords[i], name)) {
            return i;
        }
    }
    return -1;
}

// Index of the parameter named by `key`, or -1.
Py_ssize_t find_parameter(const Function* f, PyObject* key)
{
    for (Py_ssize_t i = 0; i < f->parameter_count; ++i) {
        if (same_name(key, parameter_name(f, i))) {
            return i;
        }
    }
    return -1;
}

bool wrong_count(const Function* f, Py_ssize_t given)
{
    const Py_ssize_t expected = f->parameter_count;
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
                 f->bare_name, "exactly", expected, expected == 1 ? "" : "s", given);
    return false;
}

bool no_keywords_allowed(const Function* f)
{
    PyErr_Format(PyExc_TypeError, "%.200s() takes no keyword arguments", f->bare_name);
    return false;
}

// Fills `bound` with one object per parameter, or raises the argument error. The checks
// run in a fixed order: the count of positional arguments, then a parameter left
// unfilled, then the keywords in the order given.
bool bind_arguments(const Function* f, PyObject* const* positional, Py_ssize_t given,
                    PyObject* const* keywords, PyObject* const* keyword_values,
                    Py_ssize_t keyword_count, PyObject** bound)
{
    switch (f->signature->form) {
    case CallForm::no_arguments:
        if (keyword_count != 0) {
            return no_keywords_allowed(f);
        }
        if (given != 0) {
            PyErr_Format(PyExc_TypeError, "%.200s() takes no arguments (%zd given)",
                         f->bare_name, given);
            return false;
        }
        return true;
    case CallForm::one_argument:
        if (keyword_count != 0) {
            return no_keywords_allowed(f);
        }
        if (given != 1) {
            PyErr_Format(PyExc_TypeError, "%.200s() takes exactly one argument (%zd given)",
                         f->bare_name, given);
            return false;
        }
        bound[0] = positional[0];
        return true;
    case CallForm::parameters:
        break;
    }

    const Py_ssize_t expected = f->parameter_count;
    if (given > expected || (keyword_count == 0 && given != expected)) {
        return wrong_count(f, given);
    }
    for (Py_ssize_t i = 0; i < given; ++i) {
        bound[i] = positional[i];
    }
    if (keyword_count == 0) {
        return true;
    }

    Py_ssize_t filled_by[max_parameters];
    for (Py_ssize_t i = given; i < expected; ++i) {
        const Py_ssize_t found = find_keyword(parameter_name(f, i), keywords, keyword_count);
        if (found < 0) {
            return wrong_count(f, given);
        }
        bound[i] = keyword_values[found];
        filled_by[i] = found;
    }
    if (keyword_count == expected - given) {
        return true; // every keyword filled a parameter
    }

    for (Py_ssize_t k = 0; k < keyword_count; ++k) {
        PyObject* key = keywords[k];
        if (!PyUnicode_Check(key)) {
            PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", f->bare_name);
            return false;
        }
        const Py_ssize_t index = find_parameter(f, key);
        if (index < 0) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'",
                         f->bare_name, key);
            return false;
        }
        if (index < given || filled_by[index] != k) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'",
                         f->bare_name, key);
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// Calls

// Traceback entries name the function by its dotted name within the module, without the
// "<locals>" step of an inner function's qualified name.
void add_function_traceback(const Function* f, int line) noexcept
{
    const char* qualname = PyUnicode_AsUTF8(f->qualname);
    if (qualname == nullptr) {
        return; // cannot happen for the ASCII names of this module
    }
    std::string name;
    try {
        name = module_source;
        name += '.';
        name += qualname;
        static const char locals_step[] = "<locals>.";
        for (auto at = name.find(locals_step); at != std::string::npos; at = name.find(locals_step)) {
            name.erase(at, sizeof locals_step - 1);
        }
    } catch (const std::bad_alloc&) {
        return; // the entry is lost, the exception being raised is not
    }
    add_traceback_entry(name.c_str(), line, f->globals);
}

PyObject* invoke(Function* f, PyObject* const* positional, Py_ssize_t given,
                 PyObject* const* keywords, PyObject* const* keyword_values,
                 Py_ssize_t keyword_count)
{
    // Positional arguments, one per parameter, are the bound arguments themselves, whatever
    // the calling form; anything else goes through the binding and its errors.
    PyObject* const* bound = positional;
    PyObject* bound_storage[max_parameters];
    if (keyword_count != 0 || given != f->parameter_count) {
        if (!bind_arguments(f, positional, given, keywords, keyword_values, keyword_count,
                            bound_storage)) {
            if (f->signature->form == CallForm::parameters) {
                add_function_traceback(f, f->line);
            }
            return nullptr;
        }
        bound = bound_storage;
    }
    Call call(f);
    bool failed = false;
    {
        // Bodies call into Python and may be reached from it again.
        caches::CallDepth depth(" while calling a Python object");
        if (depth.failed()) {
            return nullptr;
        }
        try {
            f->signature->body(call, bound);
        } catch (const PythonError&) {
            failed = true;
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
            failed = true;
        }
    }
    if (failed) {
        add_function_traceback(f, call.line());
        return nullptr;
    }
    Py_RETURN_NONE;
}

#ifdef KESTROVA_HAS_VECTORCALL
PyObject* function_vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf,
                              PyObject* kwnames)
{
    const Py_ssize_t given = PyVectorcall_NARGS(nargsf);
    if (kwnames == nullptr) {
        return invoke(as_function(callable), args, given, nullptr, nullptr, 0);
    }
    return invoke(as_function(callable), args, given, &PyTuple_GET_ITEM(kwnames, 0),
                  args + given, PyTuple_GET_SIZE(kwnames));
}
#endif

// The dictionary form of a call, used by callers that do not go through vectorcall
// (such as the type's own __call__ slot wrapper). It sees the keyword dictionary as
// given, so it also reports keys that are not strings.
PyObject* function_call(PyObject* callable, PyObject* args, PyObject* kwargs)
{
    PyObject* const* positional = &PyTuple_GET_ITEM(args, 0);
    const Py_ssize_t given = PyTuple_GET_SIZE(args);
    if (kwargs == nullptr || PyDict_GET_SIZE(kwargs) == 0) {
        return invoke(as_function(callable), positional, given, nullptr, nullptr, 0);
    }
    // Keys and values are held for the whole call: the body may run code that changes
    // the dictionary.
    struct Held {
        std::vector<PyObject*> keys, values;
        ~Held()
        {
            for (PyObject* o : keys) Py_DECREF(o);
            for (PyObject* o : values) Py_DECREF(o);
        }
    } held;
    try {
        held.keys.reserve(static_cast<size_t>(PyDict_GET_SIZE(kwargs)));
        held.values.reserve(static_cast<size_t>(PyDict_GET_SIZE(kwargs)));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    Py_ssize_t position = 0;
    PyObject* key;
    PyObject* value;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
        Py_INCREF(key);
        Py_INCREF(value);
        held.keys.push_back(key); // cannot throw: capacity reserved
        held.values.push_back(value);
    }
    return invoke(as_function(callable), positional, given, held.keys.data(), held.values.data(),
                  static_cast<Py_ssize_t>(held.keys.size()));
}

// Read through an instance a function binds to it; read through the class it is itself.
PyObject* function_get(PyObject* self, PyObject* instance, PyObject*)
{
    if (instance == nullptr || instance == Py_None) {
        Py_INCREF(self);
        return self;
    }
    return PyMethod_New(self, instance);
}

PyObject* function_repr(PyObject* self)
{
    return PyUnicode_FromFormat("<function %U at %p>", as_function(self)->qualname, self);
}

// ---------------------------------------------------------------------------------------
// Lifetime

int function_traverse(PyObject* self, visitproc visit, void* arg)
{
    Function* f = as_function(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(f->name);
    Py_VISIT(f->qualname);
    Py_VISIT(f->code);
    Py_VISIT(f->parameter_names);
    Py_VISIT(f->globals);
    Py_VISIT(f->builtins);
    Py_VISIT(f->closure);
    Py_VISIT(f->inner);
    Py_VISIT(f->dict);
    return 0;
}

// Clears what can take part in reference cycles; the rest is immutable.
int function_clear(PyObject* self)
{
    Function* f = as_function(self);
    Py_CLEAR(f->globals);
    Py_CLEAR(f->builtins);
    Py_CLEAR(f->closure);
    Py_CLEAR(f->inner);
    Py_CLEAR(f->dict);
    return 0;
}

void function_dealloc(PyObject* self)
{
    Function* f = as_function(self);
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    if (f->weakrefs != nullptr) {
        PyObject_ClearWeakRefs(self);
    }
    function_clear(self);
    Py_CLEAR(f->name);
    Py_CLEAR(f->qualname);
    Py_CLEAR(f->code);
    Py_CLEAR(f->parameter_names);
    PyObject_GC_Del(self);
    Py_DECREF(type);
}

// ---------------------------------------------------------------------------------------
// Attributes

PyObject* new_ref_or_none(PyObject* object)
{
    PyObject* result = object != nullptr ? object : Py_None;
    Py_INCREF(result);
    return result;
}

PyObject* get_name(PyObject* self, void*) { return new_ref_or_none(as_function(self)->name); }
PyObject* get_qualname(PyObject* self, void*)
{
    return new_ref_or_none(as_function(self)->qualname);
}
PyObject* get_code(PyObject* self, void*) { return new_ref_or_none(as_function(self)->code); }
PyObject* get_globals(PyObject* self, void*)
{
    return new_ref_or_none(as_function(self)->globals);
}
PyObject* get_builtins(PyObject* self, void*)
{
    return new_ref_or_none(as_function(self)->builtins);
}
PyObject* get_closure(PyObject* self, void*)
{
    return new_ref_or_none(as_function(self)->closure);
}
PyObject* get_module(PyObject*, void*) { return PyUnicode_FromString(module_source); }
PyObject* get_none(PyObject*, void*) { Py_RETURN_NONE; }
PyObject* get_annotations(PyObject*, void*) { return PyDict_New(); }

PyGetSetDef function_getset[] = {
    {"__name__", get_name, nullptr, nullptr, nullptr},
    {"__qualname__", get_qualname, nullptr, nullptr, nullptr},
    {"__module__", get_module, nullptr, nullptr, nullptr},
    {"__doc__", get_none, nullptr, nullptr, nullptr},
    {"__code__", get_code, nullptr, nullptr, nullptr},
    {"__globals__", get_globals, nullptr, nullptr, nullptr},
    {"__builtins__", get_builtins, nullptr, nullptr, nullptr},
    {"__closure__", get_closure, nullptr, nullptr, nullptr},
    {"__defaults__", get_none, nullptr, nullptr, nullptr},
    {"__kwdefaults__", get_none, nullptr, nullptr, nullptr},
    {"__annotations__", get_annotations, nullptr, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

#ifdef KESTROVA_HAS_VECTORCALL
constexpr Py_ssize_t vectorcall_offset = offsetof(Function, vectorcall);
#else
constexpr Py_ssize_t vectorcall_offset = -1;
#endif

PyMemberDef function_members[] = {
#ifdef KESTROVA_HAS_VECTORCALL
    {"__vectorcalloffset__", Py_T_PYSSIZET, vectorcall_offset, Py_READONLY, nullptr},
#endif
    {"__dictoffset__", Py_T_PYSSIZET, offsetof(Function, dict), Py_READONLY, nullptr},
    {"__weaklistoffset__", Py_T_PYSSIZET, offsetof(Function, weakrefs), Py_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot function_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(function_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(function_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(function_clear)},
    {Py_tp_call, reinterpret_cast<void*>(function_call)},
    {Py_tp_descr_get, reinterpret_cast<void*>(function_get)},
    {Py_tp_repr, reinterpret_cast<void*>(function_repr)},
    {Py_tp_getset, function_getset},
    {Py_tp_members, function_members},
    {0, nullptr},
};

constexpr unsigned long function_flags =
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC
    // Lets the interpreter call it unbound, with the instance first, without making a
    // bound-method object: what it does for its own functions.
    | compat::method_descriptor_flag | compat::immutable_type_flag |
    compat::disallow_instantiation_flag
#ifdef KESTROVA_HAS_SPEC_OFFSETS
    | compat::vectorcall_flag // (set with the offset where the spec cannot give it)
#endif
    ;

PyType_Spec function_spec = {"KestrovaGUI.function", sizeof(Function), 0,
                             static_cast<unsigned int>(function_flags), function_slots};

// ---------------------------------------------------------------------------------------
// Making functions

Ref new_function_object()
{
    Function* f = PyObject_GC_New(Function, function_type);
    if (f == nullptr) {
        throw PythonError{};
    }
    compat::hold_type(reinterpret_cast<PyObject*>(f));
#ifdef KESTROVA_HAS_VECTORCALL
    f->vectorcall = function_vectorcall;
#endif
    f->bare_name = nullptr;
    f->line = 0;
    f->parameter_count = 0;
    f->signature = nullptr;
    f->row = nullptr;
    f->name = f->qualname = f->code = f->parameter_names = nullptr;
    f->globals = f->builtins = f->closure = f->inner = f->dict = f->weakrefs = nullptr;
    return Ref::steal(reinterpret_cast<PyObject*>(f));
}

// The builtins a function made in `globals` sees, found the way the interpreter finds
// them for its own functions.
PyObject* builtins_of(PyObject* globals)
{
    PyObject* builtins = PyDict_GetItemWithError(globals, constants().dunder_builtins);
    if (builtins == nullptr && PyErr_Occurred()) {
        throw PythonError{};
    }
    if (builtins != nullptr && PyModule_Check(builtins)) {
        builtins = PyModule_GetDict(builtins);
    }
    if (builtins == nullptr || !PyDict_Check(builtins)) {
        builtins = PyEval_GetBuiltins();
    }
    Py_INCREF(builtins);
    return builtins;
}

// The tuple of the interned `names`, made once per load for each list of names.
Ref name_tuple(const char* const* names, int count)
{
    if (count == 0) {
        return Ref::share(constants().empty_tuple);
    }
    auto& made = constants().name_tuples;
    for (const auto& entry : made) {
        if (entry.first == names) {
            return Ref::share(entry.second);
        }
    }
    Ref tuple = checked(PyTuple_New(count));
    for (int i = 0; i < count; ++i) {
        PyTuple_SET_ITEM(tuple.get(), i, checked(PyUnicode_InternFromString(names[i])).release());
    }
    made.emplace_back(names, Ref::share(tuple));
    return tuple;
}

int count_names(const char* const* names, int capacity)
{
    int count = 0;
    while (count < capacity && names[count] != nullptr) {
        ++count;
    }
    return count;
}

#ifdef KESTROVA_HAS_CODE_REPLACE
void set_item(PyObject* dict, PyObject* key, Ref value)
{
    checked_status(PyDict_SetItem(dict, key, value));
}
#endif

// A code object for introspection: file, name, first line, parameters and free
// variables, so that the host's tools show the function's signature.
Ref make_code(const FunctionDef& def, PyObject* qualname, PyObject* parameters,
              PyObject* free_variables)
{
    Ref empty = checked(reinterpret_cast<PyObject*>(PyCode_NewEmpty(module_source, def.name,
                                                                    def.line)));
    const Py_ssize_t count = PyTuple_GET_SIZE(parameters);
    const bool nested = PyTuple_GET_SIZE(free_variables) != 0;
    const int flags = CO_OPTIMIZED | CO_NEWLOCALS | (nested ? CO_NESTED : 0);
#ifdef KESTROVA_HAS_CODE_REPLACE
    const Constants& k = constants();
    Ref changes = checked(PyDict_New());
    set_item(changes, k.code_argcount, checked(PyLong_FromSsize_t(count)));
    // An argument that cannot be given by keyword shows as positional-only.
    const bool positional_only = def.signature->form == CallForm::one_argument;
    set_item(changes, k.code_posonlyargcount, checked(PyLong_FromSsize_t(positional_only ? count : 0)));
    set_item(changes, k.code_nlocals, checked(PyLong_FromSsize_t(count)));
    set_item(changes, k.code_varnames, Ref::share(parameters));
    set_item(changes, k.code_freevars, Ref::share(free_variables));
    set_item(changes, k.code_flags, checked(PyLong_FromLong(flags)));
#ifdef KESTROVA_HAS_CODE_QUALNAME
    set_item(changes, k.code_qualname, Ref::share(qualname));
#else
    (void)qualname;
#endif
    Ref replace = checked(PyObject_GetAttr(empty, k.code_replace));
    return checked(PyObject_Call(replace, constants().empty_tuple, changes));
#else
    // Without code.replace, the empty code object lends the rest of a new one.
    (void)qualname;
    auto* base = reinterpret_cast<PyCodeObject*>(empty.get());
    const int arguments = static_cast<int>(count);
    return checked(reinterpret_cast<PyObject*>(
        PyCode_New(arguments, 0, arguments, 0, flags, base->co_code, base->co_consts, base->co_names,
                   parameters, free_variables, base->co_cellvars, base->co_filename, base->co_name,
                   def.line, base->co_lnotab)));
#endif
}

} // namespace

void ready_function_type()
{
    if (function_type == nullptr) {
        function_type = reinterpret_cast<PyTypeObject*>(checked(PyType_FromSpec(&function_spec)).release());
        compat::set_offsets(function_type, offsetof(Function, dict), offsetof(Function, weakrefs),
                            vectorcall_offset);
    }
}

Ref make_function(const FunctionDef& def, PyObject* qualname, PyObject* globals, PyObject* inner)
{
    const Signature& signature = *def.signature;
    Ref object = new_function_object();
    Function* f = as_function(object);
    f->bare_name = def.name;
    f->line = def.line;
    f->signature = &signature;
    f->row = def.row;
    f->parameter_count = count_names(signature.parameters, max_parameters);
    f->name = checked(PyUnicode_InternFromString(def.name)).release();
    Py_INCREF(qualname);
    f->qualname = qualname;
    f->parameter_names = name_tuple(signature.parameters, f->parameter_count).release();
    Ref free_variables = name_tuple(signature.free_variables, count_names(signature.free_variables, 3));
    f->code = make_code(def, qualname, f->parameter_names, free_variables).release();
    Py_INCREF(globals);
    f->globals = globals;
    f->builtins = builtins_of(globals);
    Py_XINCREF(inner);
    f->inner = inner;
    PyObject_GC_Track(object);
    return object;
}

// ---------------------------------------------------------------------------------------
// Call

Ref Call::global_generic(const Name& name) const
{
    if (function_->globals == nullptr) {
        PyErr_SetString(PyExc_SystemError, "function called after it was cleared");
        throw PythonError{};
    }
    PyObject* value = caches::dict_item(function_->globals, name);
    if (value == nullptr) {
        if (PyErr_Occurred()) {
            throw PythonError{};
        }
        value = caches::dict_item(function_->builtins, name);
        if (value == nullptr) {
            if (!PyErr_Occurred()) {
                PyErr_Format(PyExc_NameError, "name '%U' is not defined", name.get());
            }
            throw PythonError{};
        }
    }
    return Ref::share(value);
}

Ref Call::global_attr(const Name& global, const Name& name) const
{
    Ref value = this->global(global);
    return attr(value, name);
}

Ref Call::free_variable(int index) const
{
    if (function_->closure == nullptr) {
        PyErr_SetString(PyExc_SystemError, "function called after it was cleared");
        throw PythonError{};
    }
    PyObject* value = PyCell_GET(PyTuple_GET_ITEM(function_->closure, index));
    if (value == nullptr) {
        PyErr_Format(PyExc_NameError,
                     "cannot access free variable '%s' where it is not associated with a value"
                     " in enclosing scope",
                     function_->signature->free_variables[index]);
        throw PythonError{};
    }
    return Ref::share(value);
}

Ref Call::make_inner(std::initializer_list<PyObject*> captured) const
{
    if (function_->inner == nullptr) {
        PyErr_SetString(PyExc_SystemError, "function called after it was cleared");
        throw PythonError{};
    }
    Function* prototype = as_function(function_->inner);
    Ref closure = checked(PyTuple_New(static_cast<Py_ssize_t>(captured.size())));
    Py_ssize_t index = 0;
    for (PyObject* value : captured) {
        PyTuple_SET_ITEM(closure.get(), index++, checked(PyCell_New(value)).release());
    }
    Ref object = new_function_object();
    Function* f = as_function(object);
    f->bare_name = prototype->bare_name;
    f->line = prototype->line;
    f->parameter_count = prototype->parameter_count;
    f->signature = prototype->signature;
    f->row = prototype->row;
    PyObject* shared[] = {prototype->name, prototype->qualname, prototype->code,
                          prototype->parameter_names, prototype->globals, prototype->builtins};
    for (PyObject* o : shared) {
        Py_XINCREF(o);
    }
    f->name = prototype->name;
    f->qualname = prototype->qualname;
    f->code = prototype->code;
    f->parameter_names = prototype->parameter_names;
    f->globals = prototype->globals;
    f->builtins = prototype->builtins;
    f->closure = closure.release();
    PyObject_GC_Track(object);
    return object;
}

// ---------------------------------------------------------------------------------------
// Traceback entries

void add_traceback_entry(const char* function_name, int line, PyObject* globals)
{
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    // A fresh frame of a code object whose first line is `line` reports that line.
    PyCodeObject* code = PyCode_NewEmpty(module_source, function_name, line);
    PyObject* fallback_globals = nullptr;
    if (globals == nullptr) {
        globals = fallback_globals = PyDict_New();
    }
    PyFrameObject* frame = nullptr;
    if (code != nullptr && globals != nullptr) {
        frame = PyFrame_New(PyThreadState_Get(), code, globals, nullptr);
    }
    if (frame == nullptr) {
        PyErr_Clear(); // the entry is lost, the exception is not
    }
    PyErr_Restore(type, value, traceback);
    if (frame != nullptr) {
        PyTraceBack_Here(frame);
    }
    Py_XDECREF(frame);
    Py_XDECREF(code);
    Py_XDECREF(fallback_globals);
}

} // namespace kestrova
