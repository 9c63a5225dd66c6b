// The fast paths' facts of CPython 3.7 to 3.10.
//
// Instances of classes written in Python keep their attributes in a dictionary at the
// type's tp_dictoffset; every dictionary carries a version that each change renews. Each fact
// names the header of those versions it is mirrored from.
#pragma once

#include <cstdint>

namespace kestrova::fast::series {

constexpr const char* name = "3.7 to 3.10";
constexpr int first_minor = 7, last_minor = 10;

// Include/object.h: a type's tp_version_tag holds while Py_TPFLAGS_VALID_VERSION_TAG is set.
inline unsigned int version_of(const PyTypeObject* type)
{
    return (type->tp_flags & Py_TPFLAGS_VALID_VERSION_TAG) ? type->tp_version_tag : 0;
}

// Include/cpython/pystate.h (3.7, 3.8: Include/pystate.h): the thread state, and the
// exception set in it.
inline PyThreadState* thread() { return _PyThreadState_UncheckedGet(); }
inline bool error_set(const PyThreadState* thread) { return thread->curexc_type != nullptr; }

// One level of native call depth: the interpreter's own call (its counter moved between
// releases), which the fast paths take once per call of a module function.
inline bool enter_call(PyThreadState*) { return Py_EnterRecursiveCall(" while calling a Python object") == 0; }
inline void leave_call(PyThreadState*) { Py_LeaveRecursiveCall(); }

// Include/cpython/abstract.h (3.7, 3.8: Include/abstract.h): the check of a native
// function's result that the interpreter's generic call makes.
inline PyObject* check_result(PyThreadState* thread, PyObject* callable, PyObject* result)
{
#ifdef KESTROVA_HAS_THREAD_STATE_RESULT_CHECK
    return _Py_CheckFunctionResult(thread, callable, result, nullptr);
#else
    (void)thread;
    return _Py_CheckFunctionResult(callable, result, nullptr);
#endif
}

// Include/cpython/dictobject.h (3.7, 3.8: Include/dictobject.h): ma_version_tag, globally
// unique, renewed by every change of the dictionary (PEP 509).
inline std::uint64_t dict_version(PyObject* dict)
{
    return reinterpret_cast<PyDictObject*>(dict)->ma_version_tag;
}

// No instance values in these versions.
constexpr bool has_instance_values = false;
inline bool keeps_values(const PyTypeObject*) { return false; }
inline PyObject** readable_values(PyObject*) { return nullptr; }
inline PyObject** writable_values(PyObject*) { return nullptr; }
inline void add_to_insertion_order(PyObject**, Py_ssize_t) {}
inline Py_ssize_t shared_slot(PyTypeObject*, PyObject*) { return -1; }
inline Py_ssize_t shared_key_count(PyTypeObject*) { return -1; }
inline bool may_hold(PyTypeObject*, PyObject*) { return true; }
// Whether every key of `dict` is an exact string, so that a lookup in it runs no code of
// its keys: not known from the layout here (the seam checks the keys themselves).
inline int string_keys_only(PyObject*) { return -1; }

} // namespace kestrova::fast::series
