// The facts of the interpreter series this build's fast paths are for (preamble.hpp chooses
// it), and those every series shares.
#pragma once

#include "preamble.hpp"

#if KESTROVA_FAST_PATHS == 313
#include "series_3_13.hpp"
#elif KESTROVA_FAST_PATHS == 311
#include "series_3_11.hpp"
#else
#include "series_3_7.hpp"
#endif

namespace kestrova::fast::series {

// Include/object.h, Include/cpython/object.h: a type's version tag, while it holds, else 0:
// while Py_TPFLAGS_VALID_VERSION_TAG is set, until 3.12; then while it is not 0.
inline unsigned int version_of(const PyTypeObject* type)
{
#if PY_VERSION_HEX < 0x030D0000
    return (type->tp_flags & Py_TPFLAGS_VALID_VERSION_TAG) ? type->tp_version_tag : 0;
#else
    return type->tp_version_tag;
#endif
}

#if KESTROVA_FAST_THREAD_STATE
// Include/cpython/pystate.h: the thread state of the running thread, fetched without a check,
// and whether an exception is set in it: as one object from 3.12, as three before.
inline PyThreadState* thread() { return PyThreadState_GetUnchecked(); }
inline bool error_set(const PyThreadState* thread)
{
#if PY_VERSION_HEX >= 0x030C0000
    return thread->current_exception != nullptr;
#else
    return thread->curexc_type != nullptr;
#endif
}

// The check of a native function's result that the interpreter's generic call makes:
// _Py_CheckFunctionResult of Objects/call.c, declared in Include/cpython/abstract.h until 3.12
// (with the thread state from 3.9), and after that made the same way, in the same words.
inline PyObject* check_result([[maybe_unused]] PyThreadState* thread, PyObject* callable, PyObject* result)
{
#if PY_VERSION_HEX >= 0x030D0000
    if (result == nullptr) {
        if (!PyErr_Occurred()) {
            PyErr_Format(PyExc_SystemError, "%R returned NULL without setting an exception", callable);
        }
        return nullptr;
    }
    Py_DECREF(result);
    PyObject* cause = PyErr_GetRaisedException();
    PyErr_Format(PyExc_SystemError, "%R returned a result with an exception set", callable);
    PyObject* error = PyErr_GetRaisedException();
    PyException_SetCause(error, Py_NewRef(cause));
    PyException_SetContext(error, cause);
    PyErr_SetRaisedException(error);
    return nullptr;
#elif PY_VERSION_HEX >= 0x03090000
    return _Py_CheckFunctionResult(thread, callable, result, nullptr);
#else
    return _Py_CheckFunctionResult(callable, result, nullptr);
#endif
}
#endif

#if KESTROVA_FAST_NAMESPACES
// Objects/moduleobject.c (3.7 to 3.11), Include/internal/pycore_moduleobject.h (3.12 on):
// a module object's namespace is its first field.
struct ModuleHead {
    PyObject ob_base;
    PyObject* namespace_;
};

inline PyObject* module_namespace(PyObject* module) { return reinterpret_cast<ModuleHead*>(module)->namespace_; }
#endif

#if KESTROVA_FAST_NATIVE_CALLS
// Include/descrobject.h: the definition of the method a method descriptor describes.
inline const PyMethodDef* method_definition(PyObject* descriptor)
{
    return reinterpret_cast<PyMethodDescrObject*>(descriptor)->d_method;
}
#endif

#if KESTROVA_FAST_METHOD_CACHE
// Include/object.h: the instance dictionary of an object whose type keeps it at a positive
// tp_dictoffset.
inline PyObject* instance_dict(PyObject* object)
{
    return *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(object) + Py_TYPE(object)->tp_dictoffset);
}
#endif

} // namespace kestrova::fast::series
