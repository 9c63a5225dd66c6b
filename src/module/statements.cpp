#include "statements.hpp"

#include <cassert>

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

// Calls a method descriptor of a native type the way its own vectorcall does (argument
// checks, recursion guard, then its C function), for the calling conventions that need no
// argument conversion; null for the others, which the caller passes to the generic call.
// `done` tells whether the call was made.
PyObject* call_native_method(PyObject* descriptor, PyObject* self,
                             std::initializer_list<PyObject*> arguments, bool& done)
{
    auto* method = reinterpret_cast<PyMethodDescrObject*>(descriptor);
    PyMethodDef* definition = method->d_method;
    const int convention = definition->ml_flags & (METH_VARARGS | METH_FASTCALL | METH_NOARGS |
                                                   METH_O | METH_KEYWORDS | METH_METHOD);
    const size_t count = arguments.size();
    done = false;
    if (!PyObject_TypeCheck(self, PyDescr_TYPE(descriptor)) ||
        (convention == METH_NOARGS && count != 0) || (convention == METH_O && count != 1)) {
        return nullptr; // the generic call raises the descriptor's own error
    }
    if (convention != METH_NOARGS && convention != METH_O && convention != METH_FASTCALL &&
        convention != (METH_FASTCALL | METH_KEYWORDS)) {
        return nullptr;
    }
    done = true;
    if (Py_EnterRecursiveCall(" while calling a Python object")) {
        return nullptr;
    }
    PyObject* const* argv = arguments.begin();
    const auto n = static_cast<Py_ssize_t>(count);
    PyObject* result;
    switch (convention) {
    case METH_NOARGS:
        result = definition->ml_meth(self, nullptr);
        break;
    case METH_O:
        result = definition->ml_meth(self, argv[0]);
        break;
    case METH_FASTCALL:
        result = reinterpret_cast<_PyCFunctionFast>(reinterpret_cast<void (*)(void)>(
            definition->ml_meth))(self, argv, n);
        break;
    default:
        result = reinterpret_cast<_PyCFunctionFastWithKeywords>(reinterpret_cast<void (*)(void)>(
            definition->ml_meth))(self, argv, n, nullptr);
        break;
    }
    Py_LeaveRecursiveCall();
    return _Py_CheckFunctionResult(PyThreadState_Get(), descriptor, result, nullptr);
}

} // namespace

Ref attr(PyObject* object, PyObject* name)
{
    if (Py_IS_TYPE(object, &PyModule_Type)) {
        PyObject* value = caches::dict_item(PyModule_GetDict(object), name);
        if (value != nullptr) {
            return Ref::share(value);
        }
        if (PyErr_Occurred()) {
            throw PythonError{};
        }
        return checked(PyObject_GetAttr(object, name));
    }
    if (PyObject* value = caches::cached_instance_attribute(object, name)) {
        return Ref::share(value);
    }
    Ref value = checked(PyObject_GetAttr(object, name));
    caches::learn_instance_attribute(object, name, value);
    return value;
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
    if (PyObject* method = caches::cached_method(object, name)) {
        callable_ = Ref::share(method);
        self_ = object;
        return;
    }
    PyObject* found = nullptr;
    const int unbound = _PyObject_GetMethod(object, name, &found);
    callable_ = checked(found);
    if (unbound) {
        self_ = object;
        caches::learn_method(object, name, found);
    }
#else
    callable_ = checked(PyObject_GetAttr(object, name));
#endif
}

Ref Method::operator()(std::initializer_list<PyObject*> arguments, PyObject* keyword_names) const
{
    if (self_ != nullptr && keyword_names == nullptr &&
        Py_IS_TYPE(callable_.get(), &PyMethodDescr_Type)) {
        bool done;
        PyObject* result = call_native_method(callable_, self_, arguments, done);
        if (done) {
            return checked(result);
        }
    }
    return ArgumentStack(self_, arguments).call(callable_, keyword_names);
}

Ref add(PyObject* a, PyObject* b) { return checked(PyNumber_Add(a, b)); }

Ref subtract(PyObject* a, PyObject* b) { return checked(PyNumber_Subtract(a, b)); }

Ref bitwise_or(PyObject* a, PyObject* b) { return checked(PyNumber_Or(a, b)); }

bool equals(PyObject* a, PyObject* b)
{
    // Two exact ints or two exact strings: the generic comparison would call their type's
    // own comparison, which always answers True or False for them.
    if (Py_TYPE(a) == Py_TYPE(b) && (PyLong_CheckExact(a) || PyUnicode_CheckExact(a))) {
        if (Py_EnterRecursiveCall(" in comparison")) {
            throw PythonError{};
        }
        PyObject* result = Py_TYPE(a)->tp_richcompare(a, b, Py_EQ);
        Py_LeaveRecursiveCall();
        const bool equal = checked(result).get() == Py_True;
        return equal;
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
