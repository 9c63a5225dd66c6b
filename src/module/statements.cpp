#include "statements.hpp"

#include "equality.hpp"

#include <cassert>
#include <new>

#include "caches.hpp"
#include "constants.hpp"

namespace kestrova {
namespace {

constexpr size_t max_arguments = 10;

// Arguments with one free slot in front, which vectorcall lets the callee borrow
// (PY_VECTORCALL_ARGUMENTS_OFFSET) to prepend a bound object without copying.
struct ArgumentStack {
    PyObject* slots[max_arguments + 2];
    size_t count = 0;

    ArgumentStack(PyObject* first, std::initializer_list<PyObject*> rest)
    {
        // Every call site of the module passes a handful of arguments.
        assert(rest.size() < max_arguments);
        slots[0] = nullptr;
        if (first != nullptr) {
            slots[1 + count++] = first;
        }
        for (PyObject* argument : rest) {
            slots[1 + count++] = argument;
        }
    }

    Ref call(PyObject* callable, PyObject* keyword_names) const
    {
        const size_t keywords =
            keyword_names != nullptr ? static_cast<size_t>(PyTuple_GET_SIZE(keyword_names)) : 0;
        return checked(PyObject_Vectorcall(callable, slots + 1,
                                           (count - keywords) | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                           keyword_names));
    }
};

} // namespace

Ref module_attr_slow(PyObject* module, const Name& name)
{
    PyObject* value = caches::dict_item_slow(caches::module_namespace(module), name);
    if (value != nullptr && !compat::maybe_lazy_import(value)) {
        return Ref::share(value);
    }
    if (PyErr_Occurred()) {
        throw PythonError{};
    }
    return checked(PyObject_GetAttr(module, name));
}

Ref attr_generic(PyObject* object, const Name& name, caches::Known known)
{
    if (known == caches::Known::type_attribute) {
        bool applied;
        PyObject* value = caches::descriptor_attribute(object, name, applied);
        if (applied) {
            return checked(value);
        }
    }
    Ref value = checked(PyObject_GetAttr(object, name));
    if (known == caches::Known::nothing) {
        caches::learn_instance_attribute(object, name, value);
    }
    return value;
}

void set_attr_generic(PyObject* object, const Name& name, PyObject* value)
{
    checked_status(PyObject_SetAttr(object, name, value));
    caches::learn_stored_attribute(object, name, value);
}

Ref optional_attr(PyObject* object, const Name& name)
{
    if (Py_IS_TYPE(object, &PyModule_Type)) {
        PyObject* value = caches::dict_item(caches::module_namespace(object), name);
        if (value != nullptr && !compat::maybe_lazy_import(value)) {
            return Ref::share(value);
        }
        if (PyErr_Occurred()) {
            throw PythonError{};
        }
    }
    // The interpreter's own optional lookup: an AttributeError means "missing", and the
    // generic lookup does not even create one.
    PyObject* value = nullptr;
    if (PyObject_GetOptionalAttr(object, name, &value) < 0) {
        throw PythonError{};
    }
    return Ref::steal(value);
}

Ref invoke(PyObject* callable, std::initializer_list<PyObject*> arguments, PyObject* keyword_names)
{
    return ArgumentStack(nullptr, arguments).call(callable, keyword_names);
}

#ifdef KESTROVA_INLINE_CACHES

Method::Method(PyObject* object, const Name& name)
{
    bool learn;
    if (PyObject* method = caches::cached_method(object, name, native_convention_, learn)) {
        callable_ = Ref::share(method);
        self_ = object;
        return;
    }
    PyObject* found = nullptr;
    const int unbound = _PyObject_GetMethod(object, name, &found);
    callable_ = checked(found);
    if (unbound) {
        self_ = object;
        if (learn) {
            caches::learn_method(object, name, found);
        }
    }
}

Ref Method::operator()(std::initializer_list<PyObject*> arguments, PyObject* keyword_names) const
{
    if (native_convention_ != 0 && keyword_names == nullptr &&
        arity_fits(native_convention_, arguments.size())) {
        return checked(call_native(callable_, native_convention_, self_, arguments));
    }
    return ArgumentStack(self_, arguments).call(callable_, keyword_names);
}

Ref call_method_generic(PyObject* object, const Name& name,
                        std::initializer_list<PyObject*> arguments)
{
    return Method(object, name)(arguments);
}

PyObject* native_result_check(PyObject* descriptor, PyObject* result)
{
    return _Py_CheckFunctionResult(PyThreadState_Get(), descriptor, result, nullptr);
}

#else

// The lookup is made when the method is named, before its arguments are evaluated, as in
// the interpreter; a bound method where the interpreter declares no unbound lookup.
Method::Method(PyObject* object, const Name& name)
{
#ifdef KESTROVA_HAS_UNBOUND_METHOD_LOOKUP
    PyObject* found = nullptr;
    const int unbound = _PyObject_GetMethod(object, name, &found);
    callable_ = checked(found);
    if (unbound) {
        self_ = object;
    }
#else
    callable_ = checked(PyObject_GetAttr(object, name));
#endif
}

Ref Method::operator()(std::initializer_list<PyObject*> arguments, PyObject* keyword_names) const
{
    return ArgumentStack(self_, arguments).call(callable_, keyword_names);
}

Ref call_method_generic(PyObject* object, const Name& name,
                        std::initializer_list<PyObject*> arguments)
{
    ArgumentStack stack(object, arguments);
    return checked(compat::call_method(name, stack.slots + 1, stack.count));
}

#endif

Ref add(PyObject* a, PyObject* b) { return checked(PyNumber_Add(a, b)); }

Ref subtract(PyObject* a, PyObject* b) { return checked(PyNumber_Subtract(a, b)); }

Ref bitwise_or(PyObject* a, PyObject* b) { return checked(PyNumber_Or(a, b)); }

bool equals(PyObject* a, PyObject* b)
{
    const int known = exact_equality(a, b);
    if (known >= 0) {
        return known != 0;
    }
    Ref result = checked(PyObject_RichCompare(a, b, Py_EQ));
    if (result.get() == Py_True) {
        return true;
    }
    if (result.get() == Py_False) {
        return false;
    }
    return checked_status(PyObject_IsTrue(result)) != 0;
}

Ref pair(PyObject* a, PyObject* b)
{
    Ref tuple = checked(PyTuple_New(2));
    Py_INCREF(a);
    Py_INCREF(b);
    PyTuple_SET_ITEM(tuple.get(), 0, a);
    PyTuple_SET_ITEM(tuple.get(), 1, b);
    return tuple;
}

Ref import_in_function(PyObject* name, PyObject* globals)
{
    return checked(PyImport_ImportModuleLevelObject(name, globals, Py_None, Py_None, 0));
}

Ref import_module(PyObject* name, PyObject* globals, PyObject* from_list)
{
    Ref locals = checked(PyDict_New());
    return checked(PyImport_ImportModuleLevelObject(name, globals, locals, from_list, 0));
}

} // namespace kestrova

namespace kestrova {

void set_error_from_exception() noexcept
{
    try {
        throw;
    } catch (const PythonError&) {
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (...) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_SystemError, "unexpected C++ exception in KestrovaGUI");
        }
    }
}

#ifdef KESTROVA_HAS_LAZY_IMPORTS

namespace {

// Whether `value`, which the caller holds, is a lazy-import placeholder. The type is the
// interpreter's own, fetched at the first need and kept for the process.
bool is_lazy_import(PyObject* value)
{
    static PyObject* lazy_import_type = nullptr;
    if (lazy_import_type == nullptr) {
        Ref types = checked(PyImport_ImportModule("types"));
        lazy_import_type = checked(PyObject_GetAttrString(types, "LazyImportType")).release();
    }
    return reinterpret_cast<PyObject*>(Py_TYPE(value)) == lazy_import_type;
}

} // namespace

Ref resolve_lazy_global(PyObject* namespace_, const Name& name, PyObject* value)
{
    Ref placeholder = Ref::share(value); // resolving runs code that may rebind the name
    if (!is_lazy_import(placeholder)) {
        return placeholder;
    }
    Ref resolved = checked(PyObject_CallMethodNoArgs(placeholder, constants().resolve));
    PyObject* current = nullptr;
    const int found = checked_status(PyDict_GetItemRef(namespace_, name, &current));
    const Ref held = Ref::steal(current);
    if (found != 0 && current == placeholder.get()) {
        checked_status(PyDict_SetItem(namespace_, name, resolved));
    }
    return resolved;
}

#else

Ref resolve_lazy_global(PyObject*, const Name&, PyObject* value) { return Ref::share(value); }

#endif

void print(PyObject* text)
{
    static PyObject* builtin_print = nullptr; // kept for the process
    if (builtin_print == nullptr) {
        Ref builtins = checked(PyImport_ImportModuleLevel("builtins", nullptr, nullptr, nullptr, 0));
        builtin_print = checked(PyObject_GetAttr(builtins, constants().print)).release();
    }
    invoke(builtin_print, {text});
}

} // namespace kestrova
