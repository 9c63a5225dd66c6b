// The fast paths' facts of CPython 3.13 to 3.15: instances of classes written in Python keep
// their attributes in values inside the object, under the names their class shares among
// them (shared_keys.hpp). Each fact names the header it is mirrored from, the same in 3.13,
// 3.14 and 3.15.
#pragma once

#include <cstddef>
#include <cstdint>

#include "shared_keys.hpp"

namespace kestrova::fast::series {

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
