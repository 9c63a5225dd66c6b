// The facts of the interpreter series this build's fast paths are for (compat.hpp chooses
// it), and those every series shares.
#pragma once

#include "../compat.hpp"

#if KESTROVA_FAST_PATHS == 313
#include "series_3_13.hpp"
#elif KESTROVA_FAST_PATHS == 311
#include "series_3_11.hpp"
#else
#include "series_3_7.hpp"
#endif
#include "thread_state.hpp"

namespace kestrova::fast::series {

// Objects/moduleobject.c (3.7 to 3.11), Include/internal/pycore_moduleobject.h (3.12 on):
// a module object's namespace is its first field.
struct ModuleHead {
    PyObject_HEAD
    PyObject* namespace_;
};

inline PyObject* module_namespace(PyObject* module) { return reinterpret_cast<ModuleHead*>(module)->namespace_; }

// The instance dictionary of an object whose type keeps it at a positive tp_dictoffset.
inline PyObject* instance_dict(PyObject* object)
{
    return *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(object) + Py_TYPE(object)->tp_dictoffset);
}

} // namespace kestrova::fast::series
