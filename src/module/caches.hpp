// Inline caches for the lookups of function bodies, kept the way the interpreter keeps them
// for its own specialised instructions.
//
// A cache entry remembers where a lookup found its result together with the version stamp
// that the interpreter changes whenever that result could change:
//
// - a dictionary's version (`ma_version_tag`), which every insertion, replacement or
//   deletion renews, for names read from a module namespace (globals, and attributes of
//   modules such as `wx.TextCtrl`);
// - a type's version tag (`tp_version_tag`), which any change to the type or to one of its
//   bases resets, for methods found on the type and for the slot that holds an instance
//   attribute.
//
// Both stamps are unique for the life of the process, so an entry whose stamp still matches
// gives exactly the result of a fresh lookup; anything else falls back to the generic
// lookup, which also refreshes the entry. Entries live in small direct-mapped tables keyed
// by the name (and the dictionary), hold a reference to their name, and borrow nothing
// that outlives the stamp they were taken with.
//
// The caches rely on the object layout of one interpreter series (3.11); they are compiled
// only for it, and the load checks the layout against the running interpreter before
// turning them on. Elsewhere every lookup takes the generic path.
#pragma once

#include <cstdint>

#include "ref.hpp"

#if PY_VERSION_HEX >= 0x030B0000 && PY_VERSION_HEX < 0x030C0000 && !defined(Py_LIMITED_API)
#define KESTROVA_INLINE_CACHES 1
#endif

namespace kestrova::caches {

// Turns the caches on if the running interpreter lays out dictionaries and instances as
// they expect (checked on probe objects). Called by each load before the module body.
void enable();

#ifdef KESTROVA_INLINE_CACHES

extern bool enabled;

constexpr std::size_t table_size = 256; // a power of two, well above the names in use

// A name found in a dictionary: the dictionary (identity only) and its version then.
struct DictEntry {
    PyObject* name = nullptr; // owned
    PyObject* dict = nullptr;
    std::uint64_t version = 0;
    PyObject* value = nullptr; // borrowed from the dictionary while the version holds
};

// A name looked up on instances of one type: the type's version tag then, and either the
// method found on the type or the slot of the instance attribute.
struct TypeEntry {
    PyObject* name = nullptr; // owned
    unsigned int version = 0; // 0: empty
    PyObject* method = nullptr; // borrowed from the type while the version holds
    Py_ssize_t slot = -1;       // index into an instance's inline values
};

extern DictEntry dict_entries[table_size];
extern TypeEntry method_entries[table_size];
extern TypeEntry attribute_entries[table_size];

inline std::size_t slot_of(const void* name, std::uintptr_t key)
{
    const auto bits = reinterpret_cast<std::uintptr_t>(name) >> 4;
    return (bits ^ (key * 0x9E3779B1u) ^ (key >> 7)) & (table_size - 1);
}

// An instance's inline attribute values (the interpreter's PyDictValues), or null when the
// instance keeps a dictionary instead. Only for types with a managed dictionary.
inline PyObject** inline_values(PyObject* object)
{
    return reinterpret_cast<PyObject***>(object)[-4];
}

#endif

// `dict[name]` for a module namespace, borrowed: what PyDict_GetItemWithError gives
// (null with an error set, or null for a missing name).
inline PyObject* dict_item(PyObject* dict, PyObject* name);
PyObject* dict_item_slow(PyObject* dict, PyObject* name);

inline PyObject* dict_item(PyObject* dict, PyObject* name)
{
#ifdef KESTROVA_INLINE_CACHES
    const DictEntry& entry =
        dict_entries[slot_of(name, reinterpret_cast<std::uintptr_t>(dict) >> 4)];
    if (entry.dict == dict && entry.name == name &&
        reinterpret_cast<PyDictObject*>(dict)->ma_version_tag == entry.version) {
        return entry.value;
    }
#endif
    return dict_item_slow(dict, name);
}

// The instance attribute `object.name` if a cache entry knows where it is and the instance
// has it there; null (and no error) otherwise, for the generic lookup to decide.
inline PyObject* cached_instance_attribute(PyObject* object, PyObject* name)
{
#ifdef KESTROVA_INLINE_CACHES
    const unsigned int version = Py_TYPE(object)->tp_version_tag;
    const TypeEntry& entry = attribute_entries[slot_of(name, version)];
    if (entry.version == version && entry.name == name && version != 0) {
        PyObject** values = inline_values(object);
        if (values != nullptr) {
            return values[entry.slot]; // null when the instance lacks it
        }
    }
#else
    (void)object;
    (void)name;
#endif
    return nullptr;
}

// After a generic lookup of `object.name` gave `value`: remembers where instances of the
// object's type keep that attribute, when they keep it in a slot of their inline values.
void learn_instance_attribute(PyObject* object, PyObject* name, PyObject* value);

// The method `name` that a method call on `object` finds on its type, unbound, if a cache
// entry knows it; null (and no error) otherwise.
inline PyObject* cached_method(PyObject* object, PyObject* name)
{
#ifdef KESTROVA_INLINE_CACHES
    const unsigned int version = Py_TYPE(object)->tp_version_tag;
    const TypeEntry& entry = method_entries[slot_of(name, version)];
    if (entry.version == version && entry.name == name && version != 0) {
        return entry.method;
    }
#else
    (void)object;
    (void)name;
#endif
    return nullptr;
}

// After the generic method lookup found `method` unbound on the type of `object`:
// remembers it when instances of that type have no attribute dictionary that could hide
// it.
void learn_method(PyObject* object, PyObject* name, PyObject* method);

} // namespace kestrova::caches
