// The fast paths' facts of CPython 3.11 and 3.12: instances of classes written in Python keep
// their attributes in values beside the object, under the names their class shares among
// them (shared_keys.hpp).
#pragma once

#include <cstdint>

#include "shared_keys.hpp"

namespace kestrova::fast::series {

#if KESTROVA_FAST_NAMESPACES && !defined(KESTROVA_HAS_DICT_WATCHERS)
// Include/cpython/dictobject.h: ma_version_tag, unique for the process and renewed by every
// change of the dictionary (PEP 509), until dictionary watchers take its place (3.12).
inline std::uint64_t dict_version(PyObject* dict) { return reinterpret_cast<PyDictObject*>(dict)->ma_version_tag; }
#endif

// Include/internal/pycore_object.h: instance values behind a tagged pointer to them or to the
// dictionary (3.12), not a pointer of their own.
#if PY_VERSION_HEX >= 0x030C0000
#define KESTROVA_HAS_TAGGED_VALUES 1
#endif

// Include/internal/pycore_object.h: a class with Py_TPFLAGS_MANAGED_DICT gives its instances
// a way to their values before the object. 3.11: a pointer four words before it
// (_PyObject_ValuesPointer), null once they keep a dictionary instead. 3.12: three words
// before it, the values or the dictionary (PyDictOrValues), values when the lowest bit is
// set, at the address one above (_PyDictOrValues_IsValues, _PyDictOrValues_GetValues).
constexpr bool has_instance_values = true;
inline bool keeps_values(const PyTypeObject* type)
{
    const unsigned long flags = Py_TPFLAGS_MANAGED_DICT | Py_TPFLAGS_HEAPTYPE;
    return (type->tp_flags & flags) == flags;
}
inline PyObject** readable_values(PyObject* object)
{
#ifdef KESTROVA_HAS_TAGGED_VALUES
    char* tagged = reinterpret_cast<char**>(object)[-3];
    return (reinterpret_cast<std::uintptr_t>(tagged) & 1) != 0 ? reinterpret_cast<PyObject**>(tagged + 1) : nullptr;
#else
    return reinterpret_cast<PyObject***>(object)[-4];
#endif
}
inline PyObject** writable_values(PyObject* object) { return readable_values(object); }

// Include/internal/pycore_dict.h (_PyDictValues_AddToInsertionOrder): the values record the
// order in which attributes were first set, a count two bytes before the first value and the
// slots, in order, in the bytes before the count.
inline void add_to_insertion_order(PyObject** values, Py_ssize_t slot)
{
    std::uint8_t* count = reinterpret_cast<std::uint8_t*>(values) - 2;
    const int size = *count + 1;
    count[-size] = static_cast<std::uint8_t>(slot);
    *count = static_cast<std::uint8_t>(size);
}

} // namespace kestrova::fast::series
