// One small helper per kind of step a body takes, each signalling failure with
// PythonError, so that every statement of a body is a line or two of C++.
//
// Bodies evaluate in the interpreter's order (the callable or method first, then the
// arguments left to right), one named local per step: C++ does not order the
// evaluation of a call's arguments.
#pragma once

#include <initializer_list>

#include "caches.hpp"
#include "ref.hpp"

namespace kestrova {

// Entering and leaving one level of native call depth, as Py_EnterRecursiveCall and
// Py_LeaveRecursiveCall count it, with the thread state fetched once. Only the common case
// (depth to spare) is handled here; at the limit the interpreter's own function decides,
// and raises.
class CallDepth {
public:
    explicit CallDepth(const char* where)
    {
#ifdef KESTROVA_INLINE_CACHES
        thread_ = _PyThreadState_UncheckedGet();
        if (thread_->recursion_remaining > 0) {
            --thread_->recursion_remaining;
            return;
        }
#endif
        failed_ = Py_EnterRecursiveCall(where) != 0;
    }
    ~CallDepth()
    {
        if (failed_) {
            return;
        }
#ifdef KESTROVA_INLINE_CACHES
        ++thread_->recursion_remaining;
#else
        Py_LeaveRecursiveCall();
#endif
    }
    CallDepth(const CallDepth&) = delete;
    CallDepth& operator=(const CallDepth&) = delete;

    bool failed() const { return failed_; }

    // Whether an exception is set (PyErr_Occurred).
    bool error_set() const
    {
#ifdef KESTROVA_INLINE_CACHES
        return thread_->curexc_type != nullptr;
#else
        return PyErr_Occurred() != nullptr;
#endif
    }

private:
#ifdef KESTROVA_INLINE_CACHES
    PyThreadState* thread_;
#endif
    bool failed_ = false;
};

// `object.name`. On an exact module object the name is read from the module's namespace
// directly, which gives the generic lookup's result for every name this module reads
// (none of them is an attribute of the module type itself); a missing name, and a lazy
// import not resolved yet, take the generic lookup, which runs a module-level __getattr__
// and resolves the import as the interpreter's own attribute lookup does.
Ref attr_generic(PyObject* object, const Name& name, caches::Known known);
Ref module_attr_slow(PyObject* module, const Name& name);

inline Ref attr(PyObject* object, const Name& name)
{
    if (Py_IS_TYPE(object, &PyModule_Type)) {
        if (PyObject* value = caches::cached_item(caches::module_namespace(object), name)) {
            return Ref::share(value);
        }
        return module_attr_slow(object, name);
    }
    caches::Known known;
    if (PyObject* value = caches::cached_instance_attribute(object, name, known)) {
        return Ref::share(value);
    }
    return attr_generic(object, name, known);
}

// `object.name = value`.
void set_attr_generic(PyObject* object, const Name& name, PyObject* value);

inline void set_attr(PyObject* object, const Name& name, PyObject* value)
{
    if (!caches::store_instance_attribute(object, name, value)) {
        set_attr_generic(object, name, value);
    }
}

// `object.name`, or an empty Ref where the object has no such attribute.
Ref optional_attr(PyObject* object, const Name& name);

// What the interpreter's lookup of a global gives where it finds `value` under `name` in
// `namespace_` (the globals or the builtins): the value itself, or, for a lazy import, the
// object it resolves to, which then replaces the placeholder in the namespace if the
// namespace still holds it there. `value` is borrowed from the namespace.
Ref resolve_lazy_global(PyObject* namespace_, const Name& name, PyObject* value);

inline Ref global_value(PyObject* namespace_, const Name& name, PyObject* value)
{
    if (compat::maybe_lazy_import(value)) {
        return resolve_lazy_global(namespace_, name, value);
    }
    return Ref::share(value);
}

// `callable(*arguments)`, or with keywords: the last len(keyword_names) arguments are
// passed by the names in `keyword_names` (a tuple).
Ref invoke(PyObject* callable, std::initializer_list<PyObject*> arguments,
           PyObject* keyword_names = nullptr);

// `object.name`, looked up for a call: like the interpreter, it keeps a plain method
// unbound (no bound-method object) where the caches know it, and passes the object as the
// first argument. The object must outlive the Method.
class Method {
public:
    Method(PyObject* object, const Name& name);
    Ref operator()(std::initializer_list<PyObject*> arguments = {},
                   PyObject* keyword_names = nullptr) const;

private:
    Ref callable_;
    PyObject* self_ = nullptr; // set when callable_ is unbound
#ifdef KESTROVA_INLINE_CACHES
    int native_convention_ = 0; // how to call callable_ directly, if known (see caches)
#endif
};

Ref call_method_generic(PyObject* object, const Name& name,
                        std::initializer_list<PyObject*> arguments);

#ifdef KESTROVA_INLINE_CACHES

// Whether `count` arguments suit a native method of this calling convention.
inline bool arity_fits(int convention, size_t count)
{
    return convention == METH_FASTCALL || (convention == METH_O && count == 1) ||
           (convention == METH_NOARGS && count == 0);
}

// The interpreter's check of a native function's result, for a function that misreports
// its failure (returns null without an exception, or a result with one set).
PyObject* native_result_check(PyObject* descriptor, PyObject* result);

// Calls the C function of a native method descriptor the way the descriptor's own
// vectorcall does once it has checked the arguments (which the caller has: the convention
// is METH_O, METH_NOARGS or METH_FASTCALL, the arguments fit it, and the descriptor
// applies to `self`): one level deeper in the call depth, then the interpreter's check of
// the result.
inline PyObject* call_native(PyObject* descriptor, int convention, PyObject* self,
                             std::initializer_list<PyObject*> arguments)
{
    PyObject* result;
    PyMethodDef* definition = reinterpret_cast<PyMethodDescrObject*>(descriptor)->d_method;
    {
        CallDepth depth(" while calling a Python object");
        if (depth.failed()) {
            return nullptr;
        }
        if (convention == METH_O) {
            result = definition->ml_meth(self, *arguments.begin());
        } else if (convention == METH_NOARGS) {
            result = definition->ml_meth(self, nullptr);
        } else {
            result = reinterpret_cast<_PyCFunctionFast>(reinterpret_cast<void (*)(void)>(
                definition->ml_meth))(self, arguments.begin(),
                                      static_cast<Py_ssize_t>(arguments.size()));
        }
        if (result != nullptr && !depth.error_set()) {
            return result;
        }
    }
    return native_result_check(descriptor, result);
}

#endif

// `object.name(*arguments)` for arguments already evaluated: the method is looked up, then
// called, as Method does; a native method that a cache entry knows is called directly.
inline Ref call_method(PyObject* object, const Name& name,
                       std::initializer_list<PyObject*> arguments = {})
{
#ifdef KESTROVA_INLINE_CACHES
    int convention;
    bool learn;
    PyObject* method = caches::cached_method(object, name, convention, learn);
    if (method != nullptr && convention != 0 && arity_fits(convention, arguments.size())) {
        Py_INCREF(method); // held for the call, which may change the type that holds it
        PyObject* result = call_native(method, convention, object, arguments);
        Py_DECREF(method);
        return checked(result);
    }
#endif
    return call_method_generic(object, name, arguments);
}

// `a + b`, `a - b`, `a | b`.
Ref add(PyObject* a, PyObject* b);
Ref subtract(PyObject* a, PyObject* b);
Ref bitwise_or(PyObject* a, PyObject* b);

// `if a == b:`: the comparison's result, then its truth.
bool equals(PyObject* a, PyObject* b);

// `(a, b)`.
Ref pair(PyObject* a, PyObject* b);

// `import name` (absolute): the top-level package, or with a from-list the module itself.
// The importer's globals are `globals`; its locals an empty dictionary.
Ref import_module(PyObject* name, PyObject* globals, PyObject* from_list);

// `import name` inside a function body (absolute): the top-level package. Like the
// interpreter for a function's import, it passes no locals and no from-list.
Ref import_in_function(PyObject* name, PyObject* globals);

// `print(text)` with the builtins' own print, fetched at its first use and kept for the
// life of the process, so that neither a module attribute nor a later replacement of
// builtins.print changes it.
void print(PyObject* text);

} // namespace kestrova
