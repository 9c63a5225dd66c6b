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

// Objects/moduleobject.c (3.7 to 3.11), Include/internal/pycore_moduleobject.h (3.12 on):
// a module object's namespace is its first field.
struct ModuleHead {
    PyObject_HEAD PyObject* namespace_;
};

inline PyObject* module_namespace(PyObject* module)
{
    return reinterpret_cast<ModuleHead*>(module)->namespace_;
}

// Include/cpython/descrobject.h (Include/descrobject.h before 3.11): the definition of the
// method a method descriptor describes.
inline const PyMethodDef* method_definition(PyObject* descriptor)
{
    return reinterpret_cast<PyMethodDescrObject*>(descriptor)->d_method;
}

// Include/object.h: the instance dictionary of an object whose type keeps it at a positive
// tp_dictoffset.
inline PyObject* instance_dict(PyObject* object)
{
    return *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(object) + Py_TYPE(object)->tp_dictoffset);
}

} // namespace kestrova::fast::series
