// The fast paths' facts of the dictionary keys that CPython 3.11 to 3.15 lay out alike: the
// keys a class shares among its instances (their attribute names, by slot), and the kind of
// a dictionary's keys. Mirrored from Include/internal/pycore_dict.h (struct
// _dictkeysobject, PyDictUnicodeEntry, DictKeysKind and _DK_ENTRIES, the same in 3.11 to
// 3.15 on builds with the global interpreter lock) and Include/cpython/object.h
// (PyHeapTypeObject::ht_cached_keys).
#pragma once

#include <cstdint>

namespace kestrova::fast::series {

struct DictKeys {
    Py_ssize_t refcount;
    std::uint8_t log2_size;
    std::uint8_t log2_index_bytes;
    std::uint8_t kind;
    std::uint32_t version;
    Py_ssize_t usable;
    Py_ssize_t entry_count;
    // followed by the index table, then the entries
};

struct StringEntry {
    PyObject* key;
    PyObject* value;
};

enum KeysKind : std::uint8_t { general_keys = 0, string_keys = 1, shared_keys = 2 };

inline DictKeys* keys_of(PyObject* dict)
{
    return reinterpret_cast<DictKeys*>(reinterpret_cast<PyDictObject*>(dict)->ma_keys);
}

inline StringEntry* string_entries(DictKeys* keys)
{
    char* indices = reinterpret_cast<char*>(keys) + sizeof(DictKeys);
    return reinterpret_cast<StringEntry*>(indices + (std::size_t{1} << keys->log2_index_bytes));
}

inline DictKeys* class_keys(PyTypeObject* type)
{
    auto* keys = reinterpret_cast<DictKeys*>(reinterpret_cast<PyHeapTypeObject*>(type)->ht_cached_keys);
    return keys != nullptr && keys->kind == shared_keys ? keys : nullptr;
}

#if KESTROVA_FAST_INSTANCE_ATTRIBUTES
// The slot of `name` (interned, so found by identity) in the keys a class shares, or -1.
inline Py_ssize_t shared_slot(PyTypeObject* type, PyObject* name)
{
    DictKeys* keys = class_keys(type);
    if (keys == nullptr) {
        return -1;
    }
    StringEntry* entries = string_entries(keys);
    for (Py_ssize_t i = 0; i < keys->entry_count; ++i) {
        if (entries[i].key == name) {
            return i;
        }
    }
    return -1;
}
#endif

#if KESTROVA_FAST_METHOD_CACHE
// The number of keys the class shares (they only ever grow), or -1.
inline Py_ssize_t shared_key_count(PyTypeObject* type)
{
    DictKeys* keys = class_keys(type);
    return keys != nullptr ? keys->entry_count : -1;
}

// Whether an instance keeping values may hold `name`: its class's shared keys hold the name
// or a key that could equal it.
inline bool may_hold(PyTypeObject* type, PyObject* name)
{
    DictKeys* keys = class_keys(type);
    if (keys == nullptr) {
        return true;
    }
    const Py_hash_t hash = PyObject_Hash(name); // cached in the interned name
    StringEntry* entries = string_entries(keys);
    for (Py_ssize_t i = 0; i < keys->entry_count; ++i) {
        PyObject* key = entries[i].key;
        if (key == name || PyObject_Hash(key) == hash) {
            return true;
        }
    }
    return false;
}
#endif

#if KESTROVA_FAST_NAMESPACES
// 1 when every key of `dict` is an exact string (a lookup then runs no code of its keys),
// 0 when not.
inline int string_keys_only(PyObject* dict) { return keys_of(dict)->kind != general_keys; }
#endif

} // namespace kestrova::fast::series
