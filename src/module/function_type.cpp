#include "function_type.hpp"

#include <cstddef>
#include <cstdint>
#include <string>

#include "arguments.hpp"
#include "module_name.hpp"
#include "traceback.hpp"

namespace kestrova {
namespace {

constexpr const char* module_source = KESTROVA_MODULE_NAME;

Function* as_function(PyObject* object) { return reinterpret_cast<Function*>(object); }

// ---------------------------------------------------------------------------------------
// Calls

// Traceback entries name the function by the dotted name of its definition within the
// module (as the interpreter names its own entries after the code, whatever __qualname__
// says now), without the "<locals>" step of an inner function's qualified name.
void add_function_traceback(const Definition* d, int line) noexcept
{
    const char* qualname = PyUnicode_AsUTF8(d->qualname);
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
    } catch (...) {
        return; // the entry is lost, the exception being raised is not
    }
    add_traceback_entry(name.c_str(), line, d->globals);
}

// Runs the body on `bound`, one object per parameter.
KESTROVA_ALWAYS_INLINE PyObject* run(Function* f, PyObject* const* bound) noexcept
{
    const Definition* d = &f->defined;
    // Bodies call into Python and may be reached from it again: a call is one level of
    // native call depth deeper.
    Call call(f);
    if (call.failed()) {
        return nullptr;
    }
    if (!guarded([&] { d->run(*d->signature, d->row, call, bound); })) {
        add_function_traceback(d, call.line());
        return nullptr;
    }
    Py_RETURN_NONE;
}

// Positional arguments, one per parameter, are the bound arguments themselves, whatever
// the calling form; anything else goes through the binding and its errors.
bool bound_as_given(const Function* f, Py_ssize_t given, Py_ssize_t keyword_count)
{
    return keyword_count == 0 && given == f->defined.parameter_count;
}

template <class Keywords>
KESTROVA_NEVER_INLINE PyObject* bind_and_run(Function* f, PyObject* const* positional, Py_ssize_t given,
                                             const Keywords& keywords) noexcept
{
    const Definition* d = &f->defined;
    PyObject* bound[max_parameters];
    if (!bind_arguments(d, positional, given, keywords, bound)) {
        if (d->signature->form == CallForm::parameters) {
            add_function_traceback(d, d->line);
        }
        return nullptr;
    }
    if constexpr (Keywords::values_may_change) {
        Ref held[max_parameters];
        for (Py_ssize_t i = 0; i < d->parameter_count; ++i) {
            held[i] = Ref::share(bound[i]);
        }
        return run(f, bound);
    }
    return run(f, bound);
}

#ifdef KESTROVA_HAS_VECTORCALL
PyObject* function_vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf, PyObject* kwnames) noexcept
{
    Function* f = as_function(callable);
    const Py_ssize_t given = PyVectorcall_NARGS(nargsf);
    const Py_ssize_t keyword_count = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    if (bound_as_given(f, given, keyword_count)) {
        return run(f, args);
    }
    return bind_and_run(
        f, args, given,
        KeywordArray{keyword_count == 0 ? nullptr : &PyTuple_GET_ITEM(kwnames, 0), args + given, keyword_count});
}
#endif

// The dictionary form of a call, used by callers that do not go through vectorcall
// (such as the type's own __call__ slot wrapper). It sees the keyword dictionary as
// given, so it also reports keys that are not strings.
PyObject* function_call(PyObject* callable, PyObject* args, PyObject* kwargs) noexcept
{
    Function* f = as_function(callable);
    PyObject* const* positional = &PyTuple_GET_ITEM(args, 0);
    const Py_ssize_t given = PyTuple_GET_SIZE(args);
    const KeywordDict keywords{kwargs};
    if (bound_as_given(f, given, keywords.size())) {
        return run(f, positional);
    }
    return bind_and_run(f, positional, given, keywords);
}

// Read through an instance a function binds to it; read through the class it is itself.
PyObject* function_get(PyObject* self, PyObject* instance, PyObject*) noexcept
{
    if (instance == nullptr || instance == Py_None) {
        Py_INCREF(self);
        return self;
    }
    return PyMethod_New(self, instance);
}

// ---------------------------------------------------------------------------------------
// Lifetime

int function_traverse(PyObject* self, visitproc visit, void* arg) noexcept
{
    Function* f = as_function(self);
    const Definition& d = f->defined;
    for (PyObject* o :
         {d.code, d.qualname, d.name, d.parameter_names, d.globals, d.builtins, d.inner, f->closure, f->assigned_name,
          f->assigned_qualname, f->module, f->doc, f->annotations, f->annotate, f->type_params, f->dict}) {
        Py_VISIT(o);
    }
    return 0;
}

// Clears what can take part in reference cycles. The definition's name, code and
// parameters cannot.
int function_clear(PyObject* self) noexcept
{
    Function* f = as_function(self);
    Definition& d = f->defined;
    for (PyObject** o : {&d.globals, &d.builtins, &d.inner, &f->closure, &f->assigned_name, &f->assigned_qualname,
                         &f->module, &f->doc, &f->annotations, &f->annotate, &f->type_params, &f->dict}) {
        Py_CLEAR(*o);
    }
    return 0;
}

void function_dealloc(PyObject* self) noexcept
{
    Function* f = as_function(self);
    PyObject_GC_UnTrack(self);
    if (f->weakrefs != nullptr) {
        PyObject_ClearWeakRefs(self);
    }
    function_clear(self);
    Py_CLEAR(f->defined.code);
    Py_CLEAR(f->defined.qualname);
    Py_CLEAR(f->defined.name);
    Py_CLEAR(f->defined.parameter_names);
    PyObject_GC_Del(self);
}

// ---------------------------------------------------------------------------------------
// Attributes, read and assigned as those of the interpreter's own functions

PyObject* new_ref_or(PyObject* object, PyObject* otherwise)
{
    PyObject* result = object != nullptr ? object : otherwise;
    Py_INCREF(result);
    return result;
}

void replace(PyObject*& field, PyObject* value)
{
    PyObject* old = field;
    Py_XINCREF(value);
    field = value;
    Py_XDECREF(old);
}

PyObject* get_name(PyObject* self, void*) noexcept
{
    const Function* f = as_function(self);
    return new_ref_or(f->assigned_name, f->defined.name);
}

PyObject* get_qualname(PyObject* self, void*) noexcept
{
    const Function* f = as_function(self);
    return new_ref_or(f->assigned_qualname, f->defined.qualname);
}

int set_text(PyObject*& field, PyObject* value, const char* message)
{
    if (value == nullptr || !PyUnicode_Check(value)) {
        PyErr_SetString(PyExc_TypeError, message);
        return -1;
    }
    replace(field, value);
    return 0;
}

int set_name(PyObject* self, PyObject* value, void*) noexcept
{
    return set_text(as_function(self)->assigned_name, value, "__name__ must be set to a string object");
}

int set_qualname(PyObject* self, PyObject* value, void*) noexcept
{
    return set_text(as_function(self)->assigned_qualname, value, "__qualname__ must be set to a string object");
}

// Made at the first read, and kept; assigning None or deleting starts over. Where
// functions have __annotate__, a callable one makes them: annotate(1), which must give a
// dictionary.
PyObject* get_annotations(PyObject* self, void*) noexcept
{
    Function* f = as_function(self);
    if (f->annotations == nullptr) {
        PyObject* made;
#ifdef KESTROVA_HAS_ANNOTATE
        if (f->annotate != nullptr && PyCallable_Check(f->annotate)) {
            Ref annotate = Ref::share(f->annotate); // the call may replace it
            Ref format = Ref::steal(PyLong_FromLong(1));
            made = format ? PyObject_CallOneArg(annotate, format) : nullptr;
            if (made != nullptr && !PyDict_Check(made)) {
                compat::annotate_gave_no_dict(made);
                Py_CLEAR(made);
            }
        } else
#endif
        {
            made = PyDict_New();
        }
        if (made == nullptr) {
            return nullptr;
        }
        replace(f->annotations, made); // (the annotate call may have set some)
        Py_DECREF(made);
    }
    return new_ref_or(f->annotations, nullptr);
}

int set_annotations(PyObject* self, PyObject* value, void*) noexcept
{
    if (value == Py_None) {
        value = nullptr;
    }
    if (value != nullptr && !PyDict_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__annotations__ must be set to a dict object");
        return -1;
    }
    replace(as_function(self)->annotations, value);
    replace(as_function(self)->annotate, nullptr);
    return 0;
}

#ifdef KESTROVA_HAS_ANNOTATE
PyObject* get_annotate(PyObject* self, void*) noexcept { return new_ref_or(as_function(self)->annotate, Py_None); }

// A callable replaces the annotations made so far; None keeps them.
int set_annotate(PyObject* self, PyObject* value, void*) noexcept
{
    if (value == nullptr) {
        PyErr_SetString(PyExc_TypeError, "__annotate__ cannot be deleted");
        return -1;
    }
    if (value != Py_None && !PyCallable_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__annotate__ must be callable or None");
        return -1;
    }
    Function* f = as_function(self);
    replace(f->annotate, value == Py_None ? nullptr : value);
    if (value != Py_None) {
        replace(f->annotations, nullptr);
    }
    return 0;
}
#endif

#ifdef KESTROVA_HAS_TYPE_PARAMS
PyObject* get_type_params(PyObject* self, void*) noexcept
{
    return new_ref_or(as_function(self)->type_params, constants().empty_tuple);
}

int set_type_params(PyObject* self, PyObject* value, void*) noexcept
{
    if (value == nullptr || !PyTuple_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__type_params__ must be set to a tuple");
        return -1;
    }
    replace(as_function(self)->type_params, value);
    return 0;
}
#endif

#ifndef KESTROVA_HAS_POSITIONAL_ONLY_CODE
// Code objects that cannot say that a parameter is positional-only: introspection reads it
// from __signature__, which only a function of that form has.
PyObject* get_signature(PyObject* self, void*) noexcept
{
    Function* f = as_function(self);
    if (f->defined.signature->form != CallForm::one_argument) {
        PyErr_Format(PyExc_AttributeError, "'%.50s' object has no attribute '__signature__'", Py_TYPE(self)->tp_name);
        return nullptr;
    }
    PyObject* result = nullptr;
    guarded([&] {
        Ref inspect = checked(PyImport_ImportModule("inspect"));
        Ref parameter_type = checked(PyObject_GetAttrString(inspect, "Parameter"));
        Ref kind = checked(PyObject_GetAttrString(parameter_type, "POSITIONAL_ONLY"));
        Ref parameter = checked(PyObject_CallFunctionObjArgs(
            parameter_type, PyTuple_GET_ITEM(f->defined.parameter_names, 0), kind.get(), nullptr));
        Ref parameters = checked(PyTuple_Pack(1, parameter.get()));
        Ref signature_type = checked(PyObject_GetAttrString(inspect, "Signature"));
        result = checked(PyObject_CallFunctionObjArgs(signature_type, parameters.get(), nullptr)).release();
    });
    return result;
}
#endif

PyObject* get_none(PyObject*, void*) noexcept { Py_RETURN_NONE; }

PyGetSetDef function_getset[] = {
    {"__name__", get_name, set_name, nullptr, nullptr},
    {"__qualname__", get_qualname, set_qualname, nullptr, nullptr},
    {"__defaults__", get_none, nullptr, nullptr, nullptr},
    {"__kwdefaults__", get_none, nullptr, nullptr, nullptr},
    {"__annotations__", get_annotations, set_annotations, nullptr, nullptr},
#ifdef KESTROVA_HAS_ANNOTATE
    {"__annotate__", get_annotate, set_annotate, nullptr, nullptr},
#endif
#ifdef KESTROVA_HAS_TYPE_PARAMS
    {"__type_params__", get_type_params, set_type_params, nullptr, nullptr},
#endif
#ifndef KESTROVA_HAS_POSITIONAL_ONLY_CODE
    {"__signature__", get_signature, nullptr, nullptr, nullptr},
#endif
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// As the interpreter's own functions have them: assigned as they are (None once deleted),
// or read only.
PyMemberDef function_members[] = {
    {"__module__", T_OBJECT, offsetof(Function, module), 0, nullptr},
    {"__doc__", T_OBJECT, offsetof(Function, doc), 0, nullptr},
    {"__code__", T_OBJECT, offsetof(Function, defined.code), READONLY, nullptr},
    {"__globals__", T_OBJECT, offsetof(Function, defined.globals), READONLY, nullptr},
    {"__builtins__", T_OBJECT, offsetof(Function, defined.builtins), READONLY, nullptr},
    {"__closure__", T_OBJECT, offsetof(Function, closure), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyObject* function_repr(PyObject* self) noexcept
{
    Ref qualname = Ref::steal(get_qualname(self, nullptr));
    return PyUnicode_FromFormat("<function %U at %p>", qualname.get(), self);
}

// A function is stored by reference, under its qualified name: pickle looks the name up
// in the module (and refuses a function that a call made, whose name has a "<locals>"
// step, with its usual error), and copy gives the function itself.
PyObject* function_reduce(PyObject* self, PyObject*) noexcept { return get_qualname(self, nullptr); }

PyMethodDef function_methods[] = {
    {"__reduce__", function_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// A static type, as the interpreter's own function type is: immutable, and not instantiable
// from Python (a static type whose base is object inherits no __new__).
const struct {
    PyVarObject head;
} static_head = {PyVarObject_HEAD_INIT(nullptr, 0)};

PyTypeObject make_function_type()
{
    PyTypeObject type{};
    type.ob_base = static_head.head;
    type.tp_name = KESTROVA_MODULE_NAME ".function";
    type.tp_basicsize = sizeof(Function);
    type.tp_flags = Py_TPFLAGS_DEFAULT |
                    Py_TPFLAGS_HAVE_GC
                    // Lets the interpreter call it unbound, with the instance first, without
                    // making a bound-method object: what it does for its own functions.
                    | compat::method_descriptor_flag | compat::vectorcall_flag;
#ifdef KESTROVA_HAS_VECTORCALL
    type.tp_vectorcall_offset = offsetof(Function, vectorcall);
#endif
    type.tp_dictoffset = offsetof(Function, dict);
    type.tp_weaklistoffset = offsetof(Function, weakrefs);
    type.tp_dealloc = function_dealloc;
    type.tp_traverse = function_traverse;
    type.tp_clear = function_clear;
    type.tp_call = function_call;
    type.tp_descr_get = function_get;
    type.tp_repr = function_repr;
    type.tp_getset = function_getset;
    type.tp_members = function_members;
    type.tp_methods = function_methods;
    return type;
}

PyTypeObject the_function_type = make_function_type();

// ---------------------------------------------------------------------------------------
// Making functions

Ref new_function_object()
{
    Function* f = PyObject_GC_New(Function, &the_function_type);
    if (f == nullptr) {
        throw PythonError{};
    }
#ifdef KESTROVA_HAS_VECTORCALL
    f->vectorcall = function_vectorcall;
#endif
    f->defined = Definition{};
    for (PyObject** o : {&f->closure, &f->assigned_name, &f->assigned_qualname, &f->doc, &f->annotations, &f->annotate,
                         &f->type_params, &f->dict, &f->weakrefs}) {
        *o = nullptr;
    }
    f->module = constants().module_name;
    Py_INCREF(f->module);
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

// The tuple of the interned `names` (up to `capacity`, or the first null), made once per
// load for each list and shared by the functions that have that list.
Ref shared_names(const char* const* names, int capacity)
{
    int count = 0;
    while (count < capacity && names[count] != nullptr) {
        ++count;
    }
    auto& made = constants().name_tuples;
    for (const auto& entry : made) {
        if (entry.first == names) {
            return Ref::share(entry.second);
        }
    }
    Ref tuple = name_tuple(names, count);
    made.emplace_back(names, Ref::share(tuple));
    return tuple;
}

#ifdef KESTROVA_HAS_CODE_REPLACE
void set_item(PyObject* dict, PyObject* key, Ref value) { checked_status(PyDict_SetItem(dict, key, value)); }
#endif

// A code object for introspection: file, name, first line, parameters and free
// variables, so that the host's tools show the function's signature.
Ref make_code(const FunctionDef& def, PyObject* name, PyObject* qualname, PyObject* parameters,
              PyObject* free_variables)
{
    Ref empty = checked(reinterpret_cast<PyObject*>(PyCode_NewEmpty(module_source, def.name, def.line)));
    const Py_ssize_t count = PyTuple_GET_SIZE(parameters);
    const bool nested = PyTuple_GET_SIZE(free_variables) != 0;
    const int flags = CO_OPTIMIZED | CO_NEWLOCALS | (nested ? CO_NESTED : 0);
#ifdef KESTROVA_HAS_CODE_REPLACE
    const Constants& k = constants();
    Ref changes = checked(PyDict_New());
    set_item(changes, k.code_name, Ref::share(name));
    set_item(changes, k.code_argcount, checked(PyLong_FromSsize_t(count)));
    // An argument that cannot be given by keyword shows as positional-only.
    const bool positional_only = def.signature.form == CallForm::one_argument;
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
    return checked(PyObject_Call(replace, k.empty_tuple, changes));
#else
    // Without code.replace, the empty code object lends the rest of a new one.
    (void)qualname;
    const auto field = [&empty](const char* attribute) { return checked(PyObject_GetAttrString(empty, attribute)); };
    Ref code = field("co_code"), consts = field("co_consts"), names = field("co_names"), cells = field("co_cellvars"),
        file = field("co_filename"), lines = field("co_lnotab");
    const int arguments = static_cast<int>(count);
    return checked(
        reinterpret_cast<PyObject*>(PyCode_New(arguments, 0, arguments, 0, flags, code, consts, names, parameters,
                                               free_variables, cells, file, name, def.line, lines)));
#endif
}

} // namespace

void ready_function_type() { checked_status(PyType_Ready(&the_function_type)); }

PyTypeObject* function_type() { return &the_function_type; }

Ref make_function(const FunctionDef& def, PyObject* qualname, PyObject* globals, PyObject* inner)
{
    const Signature& signature = def.signature;
    Ref object = new_function_object();
    Function* f = as_function(object);
    Definition& d = f->defined;
    d.signature = &signature;
    d.row = def.row;
    d.run = def.run;
    Py_INCREF(qualname);
    d.qualname = qualname;
    d.parameter_names = shared_names(signature.parameters, max_parameters).release();
    d.parameter_count = PyTuple_GET_SIZE(d.parameter_names);
    Ref free_variables = shared_names(signature.free_variables, 3);
    d.name = checked(PyUnicode_InternFromString(def.name)).release();
    d.line = def.line;
    d.code = make_code(def, d.name, qualname, d.parameter_names, free_variables).release();
    Py_INCREF(globals);
    d.globals = globals;
    d.builtins = builtins_of(globals);
    Py_XINCREF(inner);
    d.inner = inner;
    PyObject_GC_Track(object);
    return object;
}

PyObject* defined_name(PyObject* function) { return as_function(function)->defined.name; }

// ---------------------------------------------------------------------------------------
// Call

void Call::called_after_clear()
{
    PyErr_SetString(PyExc_SystemError, "function called after it was cleared");
    throw PythonError{};
}

Ref Call::free_variable(int index) const
{
    if (function_->closure == nullptr) {
        called_after_clear();
    }
    PyObject* value = PyCell_GET(PyTuple_GET_ITEM(function_->closure, index));
    if (value == nullptr) {
        PyErr_Format(PyExc_NameError,
                     "cannot access free variable '%s' where it is not associated with a value"
                     " in enclosing scope",
                     definition_->signature->free_variables[index]);
        throw PythonError{};
    }
    return Ref::share(value);
}

Ref Call::make_inner(std::initializer_list<PyObject*> captured) const
{
    PyObject* prototype = definition_->inner;
    if (prototype == nullptr) {
        called_after_clear();
    }
    Ref closure = checked(PyTuple_New(static_cast<Py_ssize_t>(captured.size())));
    Py_ssize_t index = 0;
    for (PyObject* value : captured) {
        PyTuple_SET_ITEM(closure.get(), index++, checked(PyCell_New(value)).release());
    }
    Ref object = new_function_object();
    Function* f = as_function(object);
    f->defined = as_function(prototype)->defined; // the prototype's definition, shared
    Definition& d = f->defined;
    for (PyObject* o : {d.code, d.qualname, d.name, d.parameter_names, d.globals, d.builtins}) {
        Py_XINCREF(o);
    }
    f->closure = closure.release();
    PyObject_GC_Track(object);
    return object;
}

} // namespace kestrova
