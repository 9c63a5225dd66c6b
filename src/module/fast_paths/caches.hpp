// What the fast paths remember for each name a function body looks up (see seam.hpp): a few
// entries per kind of lookup, each valid while the version stamp it was taken with holds.
#pragma once

#include "preamble.hpp"

#include <cstdint>

namespace kestrova::fast {

#ifdef KESTROVA_FAST_PATHS

// A name found in a dictionary: the dictionary (identity only) and its stamp then.
struct DictEntry {
    PyObject* dict = nullptr;
    std::uint64_t stamp = 0;
    PyObject* value = nullptr; // borrowed from the dictionary while the stamp holds
};

// How a lookup on instances of a type is answered.
enum Kind : std::uint8_t {
    generic = 0, // the portable way (remembered, so as not to learn again)
    value_slot,  // an instance value, in `slot`
    method,      // a method of the type (`found`), called unbound, unless the instance hides it
};

// Where an instance may hold a name of its own that hides a method of its type.
enum Hiding : std::uint8_t {
    nowhere,      // no attributes of its own
    shared_keys,  // in its values, under one of the keys its class shares
    a_dictionary, // in the dictionary at the type's tp_dictoffset
};

// What instances of one type (`type`, while its version tag is `version`; 0: an empty entry)
// answer for a name.
struct TypeEntry {
    const PyTypeObject* type = nullptr; // identity only
    unsigned int version = 0;
    Kind kind = generic;
    Hiding hiding = nowhere;
    std::uint8_t convention = 0; // methods: METH_O, METH_NOARGS or METH_FASTCALL when the
                                 // method's C function can be called directly, else 0
    Py_ssize_t slot = -1;        // value_slot: the slot; methods hidden by shared keys:
                                 // their count when none of them could hide it
    PyObject* found = nullptr;   // borrowed from the type while the version holds
};

template <class Entry, int size>
struct Ways {
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
    Ways<DictEntry, 2> items;   // `name` in a namespace
    Ways<TypeEntry, 4> methods; // `object.name(...)`
    Ways<TypeEntry, 4> loads;   // `object.name`
    Ways<TypeEntry, 4> stores;  // `object.name = value`
};

#else

struct NameCache {};

#endif

} // namespace kestrova::fast
