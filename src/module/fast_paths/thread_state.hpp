// The fast paths' facts of the thread state and of type version tags, every series alike but
// for the changes compat.hpp names. Each fact names the header it is mirrored from.
#pragma once

#include <cstdint>

namespace kestrova::fast::series {

// Include/cpython/pystate.h: the thread state of the running thread, fetched without a check.
inline PyThreadState* thread() { return PyThreadState_GetUnchecked(); }

// Include/cpython/pystate.h: whether an exception is set in the thread state.
inline bool error_set(const PyThreadState* thread)
{
#ifdef KESTROVA_HAS_RAISED_EXCEPTION
    return thread->current_exception != nullptr;
#else
    return thread->curexc_type != nullptr;
#endif
}

// One more level of native call depth, as _Py_EnterRecursiveCallTstate of
// Include/internal/pycore_ceval.h counts it where the count is a field of the thread state:
// while some depth is left it is taken directly; at the limit, and where the depth is
// counted otherwise, the interpreter's own call decides (and raises).
inline bool enter_call(PyThreadState* thread)
{
#if defined(KESTROVA_HAS_RECURSION_REMAINING)
    if (thread->recursion_remaining > 0) {
        --thread->recursion_remaining;
        return true;
    }
#elif defined(KESTROVA_HAS_C_RECURSION_REMAINING)
    if (thread->c_recursion_remaining > 0) {
        --thread->c_recursion_remaining;
        return true;
    }
#else
    (void)thread;
#endif
    return Py_EnterRecursiveCall(" while calling a Python object") == 0;
}

// Gives back the level that enter_call took.
inline void leave_call(PyThreadState* thread)
{
#if defined(KESTROVA_HAS_RECURSION_REMAINING)
    ++thread->recursion_remaining;
#elif defined(KESTROVA_HAS_C_RECURSION_REMAINING)
    ++thread->c_recursion_remaining;
#else
    (void)thread;
    Py_LeaveRecursiveCall();
#endif
}

// The check of a native function's result that the interpreter's generic call makes:
// _Py_CheckFunctionResult of Objects/call.c, declared in Include/cpython/abstract.h until
// 3.12, and after that made the same way, in the same words.
inline PyObject* check_result(PyThreadState* thread, PyObject* callable, PyObject* result)
{
#if defined(KESTROVA_HAS_DECLARED_RESULT_CHECK) && defined(KESTROVA_HAS_THREAD_STATE_RESULT_CHECK)
    return _Py_CheckFunctionResult(thread, callable, result, nullptr);
#elif defined(KESTROVA_HAS_DECLARED_RESULT_CHECK)
    (void)thread;
    return _Py_CheckFunctionResult(callable, result, nullptr);
#else
    (void)thread;
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
#endif
}

// Include/object.h, Include/cpython/object.h: a type's version tag, while it holds, else 0.
inline unsigned int version_of(const PyTypeObject* type)
{
#ifdef KESTROVA_HAS_VALID_VERSION_FLAG
    return (type->tp_flags & Py_TPFLAGS_VALID_VERSION_TAG) ? type->tp_version_tag : 0;
#else
    return type->tp_version_tag;
#endif
}

#ifndef KESTROVA_HAS_DICT_WATCHERS
// Include/cpython/dictobject.h: ma_version_tag, globally unique, renewed by every change of
// the dictionary (PEP 509), until dictionary watchers take its place.
inline std::uint64_t dict_version(PyObject* dict) { return reinterpret_cast<PyDictObject*>(dict)->ma_version_tag; }
#endif

} // namespace kestrova::fast::series
