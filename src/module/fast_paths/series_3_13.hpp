// The fast paths' facts of CPython 3.13 to 3.15.
//
// Instances of classes written in Python keep their attributes in values inside the object,
// under the names their class shares among them (shared_keys.hpp). Each fact names the
// header it is mirrored from, the same in 3.13, 3.14 and 3.15 unless said.
#pragma once

#include <cstddef>
#include <cstdint>

#include "shared_keys.hpp"

namespace kestrova::fast::series {

constexpr const char* name = "3.13 to 3.15";
constexpr int first_minor = 13, last_minor = 15;

// Include/cpython/object.h: a type's tp_version_tag holds while it is not 0 (the flag
// Py_TPFLAGS_VALID_VERSION_TAG is no longer kept).
inline unsigned int version_of(const PyTypeObject* type) { return type->tp_version_tag; }

// Include/cpython/pystate.h: the thread state, and the exception set in it.
inline PyThreadState* thread() { return PyThreadState_GetUnchecked(); }
inline bool error_set(const PyThreadState* thread) { return thread->current_exception != nullptr; }

// The native call depth: 3.13 counts c_recursion_remaining down (Include/cpython/pystate.h;
// Include/internal/pycore_ceval.h checks it below 0); 3.14 and 3.15 compare the machine
// stack with limits of their own, through the interpreter's own call.
inline bool enter_call(PyThreadState* thread)
{
#ifndef KESTROVA_HAS_STACK_CALL_DEPTH
    if (thread->c_recursion_remaining > 0) {
        --thread->c_recursion_remaining;
        return true;
    }
#else
    (void)thread;
#endif
    return Py_EnterRecursiveCall(" while calling a Python object") == 0;
}
inline void leave_call(PyThreadState* thread)
{
#ifndef KESTROVA_HAS_STACK_CALL_DEPTH
    ++thread->c_recursion_remaining;
#else
    (void)thread;
    Py_LeaveRecursiveCall();
#endif
}

// The check of a native function's result (_Py_CheckFunctionResult of
// Objects/call.c, no longer declared for extensions), in the same words.
inline PyObject* check_result(PyThreadState*, PyObject* callable, PyObject* result)
{
    if (result == nullptr) {
        if (!PyErr_Occurred()) {
            PyErr_Format(PyExc_SystemError, "%R returned NULL without setting an exception", callable);
        }
        return nullptr;
    }
    if (PyErr_Occurred()) {
        Py_DECREF(result);
        PyObject* cause = PyErr_GetRaisedException();
        PyErr_Format(PyExc_SystemError, "%R returned a result with an exception set", callable);
        PyObject* error = PyErr_GetRaisedException();
        PyException_SetCause(error, Py_NewRef(cause));
        PyException_SetContext(error, cause);
        PyErr_SetRaisedException(error);
        return nullptr;
    }
    return result;
}

// Include/object.h: Py_TPFLAGS_INLINE_VALUES. Include/internal/pycore_object.h: the values
// follow the object's own fields (_PyObject_InlineValues: at tp_basicsize); the managed
// dictionary, once made, is three words before the object (MANAGED_DICT_OFFSET,
// _PyObject_GetManagedDict). Include/internal/pycore_dict.h: struct _dictvalues, whose
// `valid` byte says whether the values are in use.
struct Values {
    std::uint8_t capacity;
    std::uint8_t size;
    std::uint8_t embedded;
    std::uint8_t valid;
    PyObject* values[1];
};

constexpr bool has_instance_values = true;
inline bool keeps_values(const PyTypeObject* type)
{
    const unsigned long flags = Py_TPFLAGS_INLINE_VALUES | Py_TPFLAGS_HEAPTYPE;
    return (type->tp_flags & flags) == flags;
}
inline Values* values_of(PyObject* object)
{
    return reinterpret_cast<Values*>(reinterpret_cast<char*>(object) + Py_TYPE(object)->tp_basicsize);
}
inline PyObject** readable_values(PyObject* object)
{
    Values* values = values_of(object);
    return values->valid ? values->values : nullptr;
}
// Values the interpreter's own assignment writes to directly: in use, and no dictionary
// made of them (STORE_ATTR_INSTANCE_VALUE of Python/bytecodes.c, _GUARD_DORV_NO_DICT).
inline PyObject** writable_values(PyObject* object)
{
    Values* values = values_of(object);
    return values->valid && reinterpret_cast<PyObject**>(object)[-3] == nullptr ? values->values : nullptr;
}

// Include/internal/pycore_dict.h (_PyDictValues_AddToInsertionOrder): the order in which
// attributes were first set, after the last possible value (get_insertion_order_array),
// `size` of them.
inline void add_to_insertion_order(PyObject** slots, Py_ssize_t slot)
{
    Values* values = reinterpret_cast<Values*>(reinterpret_cast<char*>(slots) - offsetof(Values, values));
    auto* order = reinterpret_cast<std::uint8_t*>(&values->values[values->capacity]);
    order[values->size] = static_cast<std::uint8_t>(slot);
    ++values->size;
}

} // namespace kestrova::fast::series
