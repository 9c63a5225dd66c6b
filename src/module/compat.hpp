// What differs between the interpreters the module builds for (CPython 3.7 to 3.15), named
// once: a feature macro per difference, and the few functions that newer interpreters
// provide and older ones lack, under the newer names. Besides this file, only the fast paths'
// preamble and facts (src/module/fast_paths/) test a version.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstring>

// ---------------------------------------------------------------------------------------
// Feature tests

// The vectorcall protocol (3.8; public names from 3.9). Without it, every call of the
// module's functions arrives through tp_call, and calls out go through the 3.7 fast call.
#if PY_VERSION_HEX >= 0x03080000
#define KESTROVA_HAS_VECTORCALL 1
#endif

// code.replace(), and code objects that know positional-only parameters (3.8); before,
// introspection learns of them only from a function's __signature__.
#if PY_VERSION_HEX >= 0x03080000
#define KESTROVA_HAS_CODE_REPLACE 1
#define KESTROVA_HAS_POSITIONAL_ONLY_CODE 1
#endif

// A failed lookup in an instance's dictionary fails the attribute lookup (3.8); before, the
// interpreter's generic lookup takes it for a missing name.
#if PY_VERSION_HEX >= 0x03080000
#define KESTROVA_HAS_INSTANCE_DICT_ERRORS 1
#endif

// Code objects carry a qualified name (3.11).
#if PY_VERSION_HEX >= 0x030B0000
#define KESTROVA_HAS_CODE_QUALNAME 1
#endif

// Functions carry __type_params__ (3.12) and __annotate__ (3.14), which also decides what
// __annotations__ gives.
#if PY_VERSION_HEX >= 0x030C0000
#define KESTROVA_HAS_TYPE_PARAMS 1
#endif
#if PY_VERSION_HEX >= 0x030E0000
#define KESTROVA_HAS_ANNOTATE 1
#endif

// Explicit lazy imports (3.15): a module namespace, and so the globals and the builtins,
// may hold a placeholder that the interpreter's own lookups resolve when they meet it.
#if PY_VERSION_HEX >= 0x030F0000
#define KESTROVA_HAS_LAZY_IMPORTS 1
#endif

// Instances whose attribute dictionary the interpreter manages (3.11), not at tp_dictoffset.
#ifndef Py_TPFLAGS_MANAGED_DICT
#define Py_TPFLAGS_MANAGED_DICT 0
#endif

// Methods that are given their defining class (3.9).
#ifndef METH_METHOD
#define METH_METHOD 0
#endif

// Dictionary watchers (3.12): public notification of every change to a dictionary.
#if PY_VERSION_HEX >= 0x030C0000
#define KESTROVA_HAS_DICT_WATCHERS 1
#endif

// A small helper of a hot path, always inlined where the compiler lets one say so.
#if defined(__GNUC__)
#define KESTROVA_ALWAYS_INLINE inline __attribute__((always_inline))
#elif defined(_MSC_VER)
#define KESTROVA_ALWAYS_INLINE __forceinline
#else
#define KESTROVA_ALWAYS_INLINE inline
#endif

// A cold path kept out of the hot one that calls it.
#if defined(__GNUC__)
#define KESTROVA_NEVER_INLINE __attribute__((noinline))
#elif defined(_MSC_VER)
#define KESTROVA_NEVER_INLINE __declspec(noinline)
#else
#define KESTROVA_NEVER_INLINE
#endif

// ---------------------------------------------------------------------------------------
// Names of newer interpreters, for older ones

#if PY_VERSION_HEX < 0x030900A4 && !defined(Py_IS_TYPE)
static inline int Py_IS_TYPE(const PyObject* object, const PyTypeObject* type) { return Py_TYPE(object) == type; }
#endif

#if PY_VERSION_HEX < 0x03090000
static inline PyObject* PyObject_CallNoArgs(PyObject* callable)
{
    return PyObject_CallFunctionObjArgs(callable, nullptr);
}

static inline PyInterpreterState* PyInterpreterState_Get(void) { return PyThreadState_Get()->interp; }
#endif

#if PY_VERSION_HEX < 0x03080000
// The 3.7 fast call takes what vectorcall takes, without the flag in the argument count.
#define PY_VECTORCALL_ARGUMENTS_OFFSET (static_cast<size_t>(0))
static inline Py_ssize_t PyVectorcall_NARGS(size_t count) { return static_cast<Py_ssize_t>(count); }
static inline PyObject* PyObject_Vectorcall(PyObject* callable, PyObject* const* arguments, size_t count,
                                            PyObject* keyword_names)
{
    return _PyObject_FastCallKeywords(callable, const_cast<PyObject**>(arguments), static_cast<Py_ssize_t>(count),
                                      keyword_names);
}
#elif PY_VERSION_HEX < 0x03090000
#define PyObject_Vectorcall _PyObject_Vectorcall
#endif

// The init entry is the module file's one exported symbol. Before 3.9 the interpreter's
// declaration does not export it from a build with hidden visibility (Windows builds
// export it through the DLL import declarations).
#if PY_VERSION_HEX < 0x03090000 && defined(__GNUC__) && !defined(_WIN32)
#undef PyMODINIT_FUNC
#define PyMODINIT_FUNC extern "C" __attribute__((visibility("default"))) PyObject*
#endif

#if PY_VERSION_HEX < 0x030D0000
#define PyThreadState_GetUnchecked _PyThreadState_UncheckedGet
#endif

// Object members that read None where null: T_OBJECT of structmember.h, which newer
// interpreters keep for them (with READONLY, the flag spelt Py_READONLY from 3.12).
#include <structmember.h>

// `*result` = object.name, or null where the object has no such attribute (an
// AttributeError is not raised); 1, 0, or -1 with an exception set.
#if PY_VERSION_HEX < 0x030D0000
static inline int PyObject_GetOptionalAttr(PyObject* object, PyObject* name, PyObject** result)
{
    return _PyObject_LookupAttr(object, name, result);
}
#endif

namespace kestrova::compat {

// Whether `value` may be a lazy-import placeholder: an instance of the interpreter's own
// (static) type of that name. Runs no code; never true where there are no lazy imports.
inline bool maybe_lazy_import(PyObject* value)
{
#ifdef KESTROVA_HAS_LAZY_IMPORTS
    const PyTypeObject* type = Py_TYPE(value);
    return !(type->tp_flags & Py_TPFLAGS_HEAPTYPE) && std::strcmp(type->tp_name, "lazy_import") == 0;
#else
    (void)value;
    return false;
#endif
}

// Whether the interpreter's method call calls `found`, found on a type, unbound (with the
// instance as first argument) instead of binding it first: the types that say so with
// Py_TPFLAGS_METHOD_DESCRIPTOR (3.8), and in 3.7 the functions and method descriptors.
inline bool binds_plainly(PyObject* found)
{
#ifdef Py_TPFLAGS_METHOD_DESCRIPTOR
    return PyType_HasFeature(Py_TYPE(found), Py_TPFLAGS_METHOD_DESCRIPTOR);
#else
    return PyFunction_Check(found) || Py_IS_TYPE(found, &PyMethodDescr_Type);
#endif
}

// The dictionary of a type's own attributes, held: a static type's of the interpreter is
// reached through a call from 3.12 on.
inline PyObject* type_dict(PyTypeObject* type)
{
#if PY_VERSION_HEX >= 0x030C0000
    return PyType_GetDict(type);
#else
    Py_XINCREF(type->tp_dict);
    return type->tp_dict;
#endif
}

// Type flags that older interpreters do not have, as 0 there.
constexpr unsigned long method_descriptor_flag =
#ifdef Py_TPFLAGS_METHOD_DESCRIPTOR
    Py_TPFLAGS_METHOD_DESCRIPTOR;
#else
    0;
#endif
constexpr unsigned long vectorcall_flag =
#if PY_VERSION_HEX >= 0x03090000
    Py_TPFLAGS_HAVE_VECTORCALL;
#elif PY_VERSION_HEX >= 0x03080000
    _Py_TPFLAGS_HAVE_VECTORCALL;
#else
        0;
#endif

// Whether nothing can be assigned to a type's attributes: a type flagged so (3.10), or,
// before, a static type.
inline bool immutable_type(const PyTypeObject* type)
{
#ifdef Py_TPFLAGS_IMMUTABLETYPE
    return (type->tp_flags & Py_TPFLAGS_IMMUTABLETYPE) != 0;
#else
    return (type->tp_flags & Py_TPFLAGS_HEAPTYPE) == 0;
#endif
}

#ifdef KESTROVA_HAS_ANNOTATE
// The error of a function's __annotate__ that gave `result`, which is not a dictionary
// (worded anew in 3.15).
inline void annotate_gave_no_dict(PyObject* result)
{
#if PY_VERSION_HEX >= 0x030F0000
    PyErr_Format(PyExc_TypeError, "__annotate__() must return a dict, not %T", result);
#else
    PyErr_Format(PyExc_TypeError, "__annotate__ returned non-dict of type '%.100s'", Py_TYPE(result)->tp_name);
#endif
}
#endif

} // namespace kestrova::compat
