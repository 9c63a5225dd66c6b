#include "statements.hpp"

#include <cassert>

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

Ref attr(PyObject* object, PyObject* name)
{
    if (Py_IS_TYPE(object, &PyModule_Type)) {
        PyObject* value = PyDict_GetItemWithError(PyModule_GetDict(object), name);
        if (value != nullptr) {
            return Ref::share(value);
        }
        if (PyErr_Occurred()) {
            throw PythonError{};
        }
    }
    return checked(PyObject_GetAttr(object, name));
}

void set_attr(PyObject* object, PyObject* name, PyObject* value)
{
    checked_status(PyObject_SetAttr(object, name, value));
}

Ref optional_attr(PyObject* object, PyObject* name)
{
    try {
        return attr(object, name);
    } catch (const PythonError&) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
            throw;
        }
        PyErr_Clear();
        return Ref();
    }
}

Ref invoke(PyObject* callable, std::initializer_list<PyObject*> arguments, PyObject* keyword_names)
{
    return ArgumentStack(nullptr, arguments).call(callable, keyword_names);
}

Method::Method(PyObject* object, PyObject* name)
{
#if PY_VERSION_HEX < 0x030D0000
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

Ref add(PyObject* a, PyObject* b) { return checked(PyNumber_Add(a, b)); }

Ref subtract(PyObject* a, PyObject* b) { return checked(PyNumber_Subtract(a, b)); }

Ref bitwise_or(PyObject* a, PyObject* b) { return checked(PyNumber_Or(a, b)); }

bool equals(PyObject* a, PyObject* b)
{
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

Ref import_module(PyObject* name, PyObject* globals, PyObject* from_list)
{
    Ref locals = checked(PyDict_New());
    return checked(PyImport_ImportModuleLevelObject(name, globals, locals, from_list, 0));
}

} // namespace kestrova

namespace kestrova {

void print(PyObject* text)
{
    static PyObject* builtin_print = nullptr; // kept for the process
    if (builtin_print == nullptr) {
        Ref builtins = checked(PyImport_ImportModuleLevel("builtins", nullptr, nullptr, nullptr, 0));
        builtin_print = attr(builtins, constants().print).release();
    }
    invoke(builtin_print, {text});
}

} // namespace kestrova
