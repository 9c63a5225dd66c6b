// Binding the arguments of a call to a function's parameters, with the argument errors
// of the interpreter's own functions.
#pragma once

#include "function_type.hpp"

namespace kestrova {

// The keywords of a call as vectorcall gives them: names and values side by side, owned by
// the caller for the whole call.
struct KeywordArray {
    PyObject* const* names;
    PyObject* const* values;
    Py_ssize_t count;

    static constexpr bool values_may_change = false;
    Py_ssize_t size() const { return count; }
    // Calls visit(key, value, index) for each keyword in order, while it returns true.
    template <class Visit>
    bool each(Visit&& visit) const
    {
        for (Py_ssize_t i = 0; i < count; ++i) {
            if (!visit(names[i], values[i], i)) {
                return false;
            }
        }
        return true;
    }
};

// The keywords of a call as a dictionary, read where they stand. Reading them runs no code,
// but the body may change the dictionary, so what it binds is held for the call.
struct KeywordDict {
    PyObject* dict;

    static constexpr bool values_may_change = true;
    Py_ssize_t size() const { return dict == nullptr ? 0 : PyDict_GET_SIZE(dict); }
    template <class Visit>
    bool each(Visit&& visit) const
    {
        Py_ssize_t position = 0, index = 0;
        PyObject *key, *value;
        while (PyDict_Next(dict, &position, &key, &value)) {
            if (!visit(key, value, index++)) {
                return false;
            }
        }
        return true;
    }
};

// Fills `bound` with one object per parameter of the definition `d`, or raises the
// argument error and returns false. The checks run in a fixed order: the count of
// positional arguments, then a parameter left unfilled, then the keywords in the order
// given. Nothing the binding does runs Python code.
bool bind_arguments(const Definition* d, PyObject* const* positional, Py_ssize_t given, const KeywordArray& keywords,
                    PyObject** bound);
bool bind_arguments(const Definition* d, PyObject* const* positional, Py_ssize_t given, const KeywordDict& keywords,
                    PyObject** bound);

} // namespace kestrova
