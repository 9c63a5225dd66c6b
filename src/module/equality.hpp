// `a == b` decided by value, for the operands whose comparison cannot run code or fail.
#pragma once

#include "compat.hpp"

namespace kestrova {

// Two exact ints or two exact strings are equal when their values are, which is all their
// own comparison computes (and how the interpreter's specialised `==` compares them): 1 or
// 0 for those; -1 where the generic comparison must decide.
inline int exact_equality(PyObject* a, PyObject* b)
{
    if (PyLong_CheckExact(a) && PyLong_CheckExact(b)) {
        int overflow_a, overflow_b;
        const long x = PyLong_AsLongAndOverflow(a, &overflow_a);
        const long y = PyLong_AsLongAndOverflow(b, &overflow_b);
        if (overflow_a == 0 && overflow_b == 0) {
            return x == y;
        }
    } else if (PyUnicode_CheckExact(a) && PyUnicode_CheckExact(b)) {
        return a == b || PyUnicode_Compare(a, b) == 0;
    }
    return -1;
}

} // namespace kestrova
