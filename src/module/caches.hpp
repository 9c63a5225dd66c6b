// Inline caches for the lookups of function bodies, kept the way the interpreter keeps them
// for its own specialised instructions.
//
// Every name that a body looks up is an interned constant (a Name), and it carries the
// caches of the lookups made with it. An entry remembers where a lookup found its result
// together with the version stamp that the interpreter changes whenever that result could
// change:
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
// lookup, which also refreshes the entry. An entry borrows nothing that outlives the stamp
// it was taken with. Each name keeps a few entries of each kind (one per dictionary or type
// it is used with), replaced in turn when more are needed.
//
// These caches read the object layout of one interpreter series (3.11); they are compiled
// only for it, and the first use checks the layout against the running interpreter before
// turning them on.
//
// From 3.12 on, the names read from dictionaries are cached through public means instead:
// the module watches each dictionary it caches a lookup from (a dictionary watcher), and
// every change to any watched dictionary renews one process-wide stamp, which plays the
// part of the dictionary's version. Methods and instance attributes then take the generic
// path, which the interpreter's own type cache serves.
//
// Elsewhere, or when the check fails, every lookup takes the generic path.
#pragma once

#include <cstdint>

#include "ref.hpp"

// (Test builds may leave them out with KESTROVA_NO_INLINE_CACHES, to run the generic paths
// that other interpreters take.)
#if defined(KESTROVA_HAS_LAYOUT_311) && !defined(KESTROVA_NO_INLINE_CACHES)
#define KESTROVA_INLINE_CACHES 1
#endif
#if defined(KESTROVA_HAS_DICT_WATCHERS) && !defined(KESTROVA_NO_INLINE_CACHES)
#define KESTROVA_WATCHED_CACHES 1
#endif

namespace kestrova {

namespace caches {

// A name found in a dictionary: the dictionary (identity only) and its version then (with
// watched dictionaries: the process-wide stamp).
struct DictEntry {
    PyObject* dict = nullptr;
    std::uint64_t version = 0;
    PyObject* value = nullptr; // borrowed from the dictionary while the version holds
};

// A name looked up on instances of one type, under the type's version tag then (0: empty).
struct TypeEntry {
    unsigned int version = 0;
    int native_convention = 0;  // methods: METH_O, METH_NOARGS or METH_FASTCALL for a native
                                // method that applies to the type's instances, else 0
    Py_ssize_t slot = -1;       // attributes: the slot in an instance's inline values, or -1
                                // for a name that the type itself defines; methods: for
                                // instances with inline values, the number of keys the
                                // type's shared keys had when none of them could hide the
                                // method, or -1 for instances without a dictionary
    PyObject* method = nullptr; // methods, and attributes that the type defines as a non-data
                                // descriptor: borrowed from the type while the version holds
};

template <class Entry, int size> struct Ways {
    Entry entries[size];
    int next = 0; // the entry to replace when all are taken

    Entry& replace()
    {
        Entry& entry = entries[next];
        next = (next + 1) % size;
        return entry;
    }
};

struct NameCache {
    Ways<DictEntry, 2> items;    // `name` in a module namespace
    Ways<TypeEntry, 4> methods;  // `object.name(...)`
    Ways<TypeEntry, 4> loads;    // `object.name`
    Ways<TypeEntry, 4> stores;   // `object.name = value`
};

} // namespace caches

// An interned name, with the caches of the lookups made with it.
struct Name {
    Ref object;
    mutable caches::NameCache cache;

    PyObject* get() const { return object.get(); }
    operator PyObject*() const { return object.get(); }
};

namespace caches {

// Whether the caches may be filled: at the first call, whether the running interpreter
// lays out modules, dictionaries and instances as they expect (checked on probe objects).
// The check runs when the first cache would be filled, after the load.
bool usable();

#ifdef KESTROVA_INLINE_CACHES

extern bool enabled;

inline const TypeEntry* find(const Ways<TypeEntry, 4>& ways, PyObject* object)
{
    const unsigned int version = Py_TYPE(object)->tp_version_tag;
    for (const TypeEntry& entry : ways.entries) {
        if (entry.version == version) {
            return version != 0 ? &entry : nullptr;
        }
    }
    return nullptr;
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

#ifdef KESTROVA_WATCHED_CACHES

// Renewed before any watched dictionary changes or goes away (never 0).
extern std::uint64_t watched_version;

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
inline PyObject* cached_item(PyObject* dict, const Name& name)
{
#if defined(KESTROVA_INLINE_CACHES) || defined(KESTROVA_WATCHED_CACHES)
#ifdef KESTROVA_INLINE_CACHES
    const std::uint64_t version = reinterpret_cast<PyDictObject*>(dict)->ma_version_tag;
#else
    const std::uint64_t version = watched_version;
#endif
    for (const DictEntry& entry : name.cache.items.entries) {
        if (entry.dict == dict && entry.version == version) {
            return entry.value;
        }
    }
#else
    (void)dict;
    (void)name;
#endif
    return nullptr;
}

// `dict[name]` as PyDict_GetItemWithError gives it (borrowed; null with an error set, or
// null for a missing name), remembered for the next lookups where that is safe.
PyObject* dict_item_slow(PyObject* dict, const Name& name);

inline PyObject* dict_item(PyObject* dict, const Name& name)
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
inline PyObject* cached_instance_attribute(PyObject* object, const Name& name, Known& known)
{
#ifdef KESTROVA_INLINE_CACHES
    if (const TypeEntry* entry = find(name.cache.loads, object)) {
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
void learn_instance_attribute(PyObject* object, const Name& name, PyObject* value);

// `object.name` for a name that the object's type defines as a non-data descriptor (such
// as a method) when a cache entry knows the descriptor and the instance does not hide it:
// the descriptor's __get__, as the generic lookup would call it. Null and no error when no
// entry applies, null with an error when __get__ fails.
PyObject* descriptor_attribute(PyObject* object, const Name& name, bool& applied);

// `object.name = value` straight into the slot a cache entry knows, as the generic
// assignment would store it; false (nothing done) when no entry applies.
bool store_instance_attribute(PyObject* object, const Name& name, PyObject* value);

// After a generic `object.name = value`: remembers the slot it went to.
void learn_stored_attribute(PyObject* object, const Name& name, PyObject* value);

// The method `name` that a method call on `object` finds on its type, unbound, if a cache
// entry knows it; null (and no error) otherwise. `native_convention` tells how to call it
// directly (0 if not); `learn` whether the generic lookup may teach the cache something
// (not when an entry knows that the type's methods of that name are not cached).
bool method_visible(const TypeEntry& entry, PyObject* object, const Name& name);

inline PyObject* cached_method(PyObject* object, const Name& name, int& native_convention,
                               bool& learn)
{
    native_convention = 0;
    learn = true;
#ifdef KESTROVA_INLINE_CACHES
    if (const TypeEntry* entry = find(name.cache.methods, object)) {
        if (entry->method == nullptr) {
            learn = false;
            return nullptr;
        }
        if (entry->slot < 0 || method_visible(*entry, object, name)) {
            native_convention = entry->native_convention;
            return entry->method;
        }
    }
#else
    (void)object;
    (void)name;
#endif
    return nullptr;
}

// After the generic method lookup found `method` unbound on the type of `object`:
// remembers it, for instances of that type that have no attribute dictionary or keep
// their attributes in inline values (where the cache can tell whether one hides it).
void learn_method(PyObject* object, const Name& name, PyObject* method);

} // namespace caches
} // namespace kestrova
