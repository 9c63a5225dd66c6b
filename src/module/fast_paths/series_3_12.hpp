// The fast paths' facts of CPython 3.12.
//
// Instances of classes written in Python keep their attributes in values beside the object,
// under the names their class shares among them (shared_keys.hpp). Each fact names the 3.12
// header it is mirrored from.
#pragma once

#include <cstdint>

#include "shared_keys.hpp"

namespace kestrova::fast::series {

constexpr const char* name = "3.12";
constexpr int first_minor = 12, last_minor = 12;

// Include/object.h: a type's tp_version_tag holds while Py_TPFLAGS_VALID_VERSION_TAG is set.
inline unsigned int version_of(const PyTypeObject* type)
{
    return (type->tp_flags & Py_TPFLAGS_VALID_VERSION_TAG) ? type->tp_version_tag : 0;
}

// Include/cpython/pystate.h: the thread state, the exception set in it, and the native call
// depth left (Include/internal/pycore_ceval.h: _Py_EnterRecursiveCallTstate counts
// c_recursion_remaining down and checks at 0).
inline PyThreadState* thread() { return _PyThreadState_UncheckedGet(); }
inline bool error_set(const PyThreadState* thread) { return thread->current_exception != nullptr; }
inline bool enter_call(PyThreadState* thread)
{
    if (thread->c_recursion_remaining > 0) {
        --thread->c_recursion_remaining;
        return true;
    }
    if (Py_EnterRecursiveCall(" while calling a Python object") != 0) {
        return false;
    }
    return true;
}
inline void leave_call(PyThreadState* thread) { ++thread->c_recursion_remaining; }

// Include/cpython/abstract.h: the check of a native function's result.
inline PyObject* check_result(PyThreadState* thread, PyObject* callable, PyObject* result)
{
    return _Py_CheckFunctionResult(thread, callable, result, nullptr);
}

// Include/internal/pycore_object.h: a class with Py_TPFLAGS_MANAGED_DICT gives its
// instances, three words before the object, their values or their dictionary
// (PyDictOrValues): values when the lowest bit is set, at the address one above
// (_PyDictOrValues_IsValues, _PyDictOrValues_GetValues).
constexpr bool has_instance_values = true;
inline bool keeps_values(const PyTypeObject* type)
{
    const unsigned long flags = Py_TPFLAGS_MANAGED_DICT | Py_TPFLAGS_HEAPTYPE;
    return (type->tp_flags & flags) == flags;
}
inline PyObject** readable_values(PyObject* object)
{
    char* tagged = reinterpret_cast<char**>(object)[-3];
    return (reinterpret_cast<std::uintptr_t>(tagged) & 1) != 0 ? reinterpret_cast<PyObject**>(tagged + 1)
                                                               : nullptr;
}
inline PyObject** writable_values(PyObject* object) { return readable_values(object); }

// Include/internal/pycore_dict.h (_PyDictValues_AddToInsertionOrder): the values record the
// order in which attributes were first set, a count two bytes before the first value and
// the slots, in order, in the bytes before the count.
inline void add_to_insertion_order(PyObject** values, Py_ssize_t slot)
{
    std::uint8_t* count = reinterpret_cast<std::uint8_t*>(values) - 2;
    const int size = *count + 1;
    count[-size] = static_cast<std::uint8_t>(slot);
    *count = static_cast<std::uint8_t>(size);
}

} // namespace kestrova::fast::series
