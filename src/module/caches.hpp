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
// by the name (and the dictionary or type), hold a reference to their name, and borrow
// nothing that outlives the stamp they were taken with.
//
// The caches read the object layout of one interpreter series (3.11); they are compiled
// only for it, and the load checks the layout against the running interpreter before
// turning them on. Elsewhere, or when the check fails, every lookup takes the generic path.
#pragma once

#include <cstdint>

#include "ref.hpp"

#if PY_VERSION_HEX >= 0x030B0000 && PY_VERSION_HEX < 0x030C0000 && !defined(Py_LIMITED_API)
#define KESTROVA_INLINE_CACHES 1
#endif

namespace kestrova::caches {

// Turns the caches on if the running interpreter lays out modules, dictionaries and
// instances as they expect (checked on probe objects). Called by each load before the
// module body runs.
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

// A name looked up on instances of one type, under the type's version tag then.
struct TypeEntry {
    PyObject* name = nullptr;   // owned
    unsigned int version = 0;   // 0: empty
    PyObject* method = nullptr; // method entries: borrowed from the type while the version holds
    Py_ssize_t slot = -1;       // attribute entries: the slot in an instance's inline values,
                                // or -1 for a name that the type itself defines
    int native_convention = 0;  // method entries: METH_O, METH_NOARGS or METH_FASTCALL for a
                                // native method that applies to the type's instances, else 0
};

extern DictEntry dict_entries[table_size];
extern TypeEntry method_entries[table_size];
extern TypeEntry load_entries[table_size];  // instance attributes read
extern TypeEntry store_entries[table_size]; // instance attributes written

inline std::size_t index_of(const void* name, std::uintptr_t key)
{
    const auto bits = reinterpret_cast<std::uintptr_t>(name) >> 4;
    return (bits ^ (key * 0x9E3779B1u) ^ (key >> 7)) & (table_size - 1);
}

inline const TypeEntry* type_entry(const TypeEntry* table, PyObject* object, PyObject* name)
{
    const unsigned int version = Py_TYPE(object)->tp_version_tag;
    const TypeEntry& entry = table[index_of(name, version)];
    return entry.version == version && entry.name == name && version != 0 ? &entry : nullptr;
}

// An instance's inline attribute values (the interpreter's PyDictValues), or null when the
// instance keeps a dictionary instead. Only for types with a managed dictionary.
inline PyObject** inline_values(PyObject* object)
{
    return reinterpret_cast<PyObject***>(object)[-4];
}

// The head of a module object.
struct ModuleHead {
    PyObject_HEAD
    PyObject* namespace_;
};

#endif

// The namespace of an exact module object.
inline PyObject* module_namespace(PyObject* module)
{
#ifdef KESTROVA_INLINE_CACHES
    if (enabled) {
        return reinterpret_cast<ModuleHead*>(module)->namespace_;
    }
#endif
    return PyModule_GetDict(module);
}

// `dict[name]` from a cache entry, borrowed, or null when no entry vouches for it.
inline PyObject* cached_item(PyObject* dict, PyObject* name)
{
#ifdef KESTROVA_INLINE_CACHES
    const DictEntry& entry =
        dict_entries[index_of(name, reinterpret_cast<std::uintptr_t>(dict) >> 4)];
    if (entry.dict == dict && entry.name == name &&
        reinterpret_cast<PyDictObject*>(dict)->ma_version_tag == entry.version) {
        return entry.value;
    }
#else
    (void)dict;
    (void)name;
#endif
    return nullptr;
}

// `dict[name]` as PyDict_GetItemWithError gives it (borrowed; null with an error set, or
// null for a missing name), remembered for the next lookups where that is safe.
PyObject* dict_item_slow(PyObject* dict, PyObject* name);

inline PyObject* dict_item(PyObject* dict, PyObject* name)
{
    if (PyObject* value = cached_item(dict, name)) {
        return value;
    }
    return dict_item_slow(dict, name);
}

// Whether a cache entry knows how instances of the object's type answer `object.name`.
enum class Known { nothing, slot, type_attribute };

// The instance attribute `object.name` if a cache entry knows its slot and the instance
// has it there; otherwise null (and no error) for the generic lookup to decide, with
// `known` telling whether learning from that lookup is worth trying.
inline PyObject* cached_instance_attribute(PyObject* object, PyObject* name, Known& known)
{
#ifdef KESTROVA_INLINE_CACHES
    if (const TypeEntry* entry = type_entry(load_entries, object, name)) {
        if (entry->slot < 0) {
            known = Known::type_attribute;
            return nullptr;
        }
        known = Known::slot;
        PyObject** values = inline_values(object);
        return values != nullptr ? values[entry->slot] : nullptr;
    }
#else
    (void)object;
    (void)name;
#endif
    known = Known::nothing;
    return nullptr;
}

// After a generic lookup of `object.name` gave `value`: remembers where instances of the
// object's type keep that attribute (a slot of their inline values), or that the type
// itself defines the name.
void learn_instance_attribute(PyObject* object, PyObject* name, PyObject* value);

// `object.name = value` straight into the slot a cache entry knows, as the generic
// assignment would store it; false (nothing done) when no entry applies.
bool store_instance_attribute(PyObject* object, PyObject* name, PyObject* value);

// After a generic `object.name = value`: remembers the slot it went to.
void learn_stored_attribute(PyObject* object, PyObject* name, PyObject* value);

// The method `name` that a method call on `object` finds on its type, unbound, if a cache
// entry knows it; null (and no error) otherwise. `native_convention` tells how to call it
// directly (0 if not).
inline PyObject* cached_method(PyObject* object, PyObject* name, int& native_convention)
{
#ifdef KESTROVA_INLINE_CACHES
    if (const TypeEntry* entry = type_entry(method_entries, object, name)) {
        native_convention = entry->native_convention;
        return entry->method;
    }
#else
    (void)object;
    (void)name;
#endif
    native_convention = 0;
    return nullptr;
}

// After the generic method lookup found `method` unbound on the type of `object`:
// remembers it when instances of that type have no attribute dictionary that could hide
// it.
void learn_method(PyObject* object, PyObject* name, PyObject* method);

} // namespace kestrova::caches
