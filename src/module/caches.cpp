#include "caches.hpp"

#include <new>
#include <vector>

namespace kestrova::caches {

#if defined(KESTROVA_INLINE_CACHES) || defined(KESTROVA_WATCHED_CACHES)
namespace {

// Records that `dict[name]` is `value` while the dictionary's version (or the stamp) is
// `version`, in the entry that already belongs to the dictionary or in the next one to
// replace.
void remember_item(const Name& name, PyObject* dict, std::uint64_t version, PyObject* value)
{
    DictEntry* entry = nullptr;
    for (DictEntry& candidate : name.cache.items.entries) {
        if (candidate.dict == dict || candidate.dict == nullptr) {
            entry = &candidate;
            break;
        }
    }
    if (entry == nullptr) {
        entry = &name.cache.items.replace();
    }
    entry->dict = dict;
    entry->version = version;
    entry->value = value;
}

} // namespace
#endif

#ifdef KESTROVA_INLINE_CACHES

bool enabled = false;

namespace {

// The head of the interpreter's dictionary-keys object, and the entries that follow its
// index table when all keys are strings (the 3.11 layout).
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

DictKeys* keys_of(PyObject* dict)
{
    return reinterpret_cast<DictKeys*>(reinterpret_cast<PyDictObject*>(dict)->ma_keys);
}

StringEntry* string_entries(DictKeys* keys)
{
    char* indices = reinterpret_cast<char*>(keys) + sizeof(DictKeys);
    return reinterpret_cast<StringEntry*>(indices + (std::size_t{1} << keys->log2_index_bytes));
}

// The slot of `name` in the keys that a type shares among its instances, or -1.
Py_ssize_t shared_slot(PyTypeObject* type, PyObject* name)
{
    auto* keys = reinterpret_cast<DictKeys*>(reinterpret_cast<PyHeapTypeObject*>(type)->ht_cached_keys);
    if (keys == nullptr || keys->kind != shared_keys) {
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

// The instance values record the order in which attributes were first set: a count in the
// byte before the values and the slots, in order, in the bytes before it.
std::uint8_t* insertion_count(PyObject** values) { return reinterpret_cast<std::uint8_t*>(values) - 2; }

void add_to_insertion_order(PyObject** values, Py_ssize_t slot)
{
    std::uint8_t* count = insertion_count(values);
    const int size = *count + 1;
    count[-size] = static_cast<std::uint8_t>(slot);
    *count = static_cast<std::uint8_t>(size);
}

// A valid version tag of the type (one that a later change to it will reset), or 0.
unsigned int version_of(PyTypeObject* type)
{
    return (type->tp_flags & Py_TPFLAGS_VALID_VERSION_TAG) ? type->tp_version_tag : 0;
}

// Records what instances of a type (of version `version`) answer, in the entry that
// already belongs to that version or in the next one to replace.
void remember(Ways<TypeEntry, 4>& ways, unsigned int version, Py_ssize_t slot,
              PyObject* method = nullptr, int native_convention = 0)
{
    TypeEntry* entry = nullptr;
    for (TypeEntry& candidate : ways.entries) {
        if (candidate.version == version || candidate.version == 0) {
            entry = &candidate;
            break;
        }
    }
    if (entry == nullptr) {
        entry = &ways.replace();
    }
    entry->version = version;
    entry->slot = slot;
    entry->method = method;
    entry->native_convention = native_convention;
}

// Instances of `type` keep their attributes in inline values and look them up, and assign
// them, the generic way.
bool plain_instances(PyTypeObject* type, const Name& name)
{
    const unsigned long needed = Py_TPFLAGS_MANAGED_DICT | Py_TPFLAGS_HEAPTYPE;
    return (type->tp_flags & needed) == needed && usable() &&
           type->tp_getattro == PyObject_GenericGetAttr &&
           type->tp_setattro == PyObject_GenericSetAttr && PyUnicode_CheckExact(name.get());
}

// How a method descriptor found on `type` can be called directly: its calling convention
// when that is one its C function takes without conversion and the descriptor applies to
// the type's instances (so that its own type check would pass); 0 otherwise.
int native_convention(PyTypeObject* type, PyObject* method)
{
    if (!Py_IS_TYPE(method, &PyMethodDescr_Type) ||
        !PyType_IsSubtype(type, PyDescr_TYPE(method))) {
        return 0;
    }
    const int convention = reinterpret_cast<PyMethodDescrObject*>(method)->d_method->ml_flags &
                           (METH_VARARGS | METH_FASTCALL | METH_NOARGS | METH_O | METH_KEYWORDS |
                            METH_METHOD);
    return convention == METH_O || convention == METH_NOARGS || convention == METH_FASTCALL
               ? convention
               : 0;
}

// Checks the layout the caches read on probe objects of the running interpreter: a module's
// namespace, a dictionary's keys kind, and where and in which order an instance keeps its
// attributes.
bool layout_matches()
{
    Ref module = checked(PyModule_New("kestrova_probe"));
    if (reinterpret_cast<ModuleHead*>(module.get())->namespace_ != PyModule_GetDict(module)) {
        return false;
    }

    Ref first = checked(PyUnicode_InternFromString("kestrova_probe_first"));
    Ref second = checked(PyUnicode_InternFromString("kestrova_probe_second"));
    Ref sentinel = checked(PyList_New(0));
    Ref dict = checked(PyDict_New());
    checked_status(PyDict_SetItem(dict, first, sentinel));
    if (keys_of(dict)->kind != string_keys || keys_of(dict)->entry_count != 1 ||
        string_entries(keys_of(dict))[0].key != first.get()) {
        return false;
    }
    const std::uint64_t version = reinterpret_cast<PyDictObject*>(dict.get())->ma_version_tag;
    checked_status(PyDict_SetItem(dict, Py_None, sentinel));
    if (keys_of(dict)->kind != general_keys ||
        reinterpret_cast<PyDictObject*>(dict.get())->ma_version_tag == version) {
        return false;
    }

    Ref class_name = checked(PyUnicode_FromString("KestrovaProbe"));
    Ref bases = checked(PyTuple_New(0));
    Ref namespace_ = checked(PyDict_New());
    Ref type = checked(PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject*>(&PyType_Type),
                                                    class_name.get(), bases.get(),
                                                    namespace_.get(), nullptr));
    auto* probe_type = reinterpret_cast<PyTypeObject*>(type.get());
    // A class lives in reference cycles; clear them at once, so that it goes with the
    // last reference instead of staying among object's subclasses until a collection.
    struct Dismantle {
        PyObject* type;
        ~Dismantle() { Py_TYPE(type)->tp_clear(type); }
    } dismantle{type};
    if (!(probe_type->tp_flags & Py_TPFLAGS_MANAGED_DICT)) {
        return false;
    }
    Ref instance = checked(PyObject_CallNoArgs(type));
    checked_status(PyObject_SetAttr(instance, second, Py_None)); // takes the first slot
    checked_status(PyObject_SetAttr(instance, first, sentinel));
    PyObject** values = inline_values(instance);
    const Py_ssize_t first_slot = shared_slot(probe_type, first);
    const Py_ssize_t second_slot = shared_slot(probe_type, second);
    return values != nullptr && first_slot >= 0 && second_slot >= 0 &&
           values[first_slot] == sentinel.get() && values[second_slot] == Py_None &&
           *insertion_count(values) == 2 && insertion_count(values)[-1] == second_slot &&
           insertion_count(values)[-2] == first_slot;
}

} // namespace

bool usable()
{
    static bool checked_layout = false;
    if (!checked_layout) {
        // Set first: making the probe class may run code (a collection, finalizers) that
        // comes back here, and finds the caches off until the check is done.
        checked_layout = true;
        try {
            enabled = layout_matches();
        } catch (const PythonError&) {
            PyErr_Clear(); // the caches stay off; nothing else depends on the probe
        }
    }
    return enabled;
}

PyObject* dict_item_slow(PyObject* dict, const Name& name)
{
    // Decided before the lookup: the first decision runs code, which must not come between
    // the lookup and the use of the value it lends.
    const bool cache = PyDict_CheckExact(dict) && PyUnicode_CheckExact(name.get()) && usable();
    PyObject* value = PyDict_GetItemWithError(dict, name);
    // Only a dictionary whose keys are all exact strings answers without running code of
    // its keys (their __eq__), so only its answers may be replayed.
    if (value != nullptr && cache && keys_of(dict)->kind == string_keys) {
        remember_item(name, dict, reinterpret_cast<PyDictObject*>(dict)->ma_version_tag, value);
    }
    return value;
}

void learn_instance_attribute(PyObject* object, const Name& name, PyObject* value)
{
    PyTypeObject* type = Py_TYPE(object);
    if (!plain_instances(type, name)) {
        return;
    }
    // With nothing of that name on the type, the generic lookup reads the instance alone;
    // with something, remember that, so that the next lookups skip learning, and remember a
    // non-data descriptor (a method), which the instance may hide and otherwise answers.
    PyObject* on_type = _PyType_Lookup(type, name);
    const unsigned int version = version_of(type);
    if (version == 0) {
        return;
    }
    if (on_type != nullptr) {
        const PyTypeObject* kind = Py_TYPE(on_type);
        const bool non_data = kind->tp_descr_get != nullptr && kind->tp_descr_set == nullptr;
        remember(name.cache.loads, version, -1, non_data ? on_type : nullptr);
        return;
    }
    PyObject** values = inline_values(object);
    const Py_ssize_t slot = values != nullptr ? shared_slot(type, name) : -1;
    if (slot >= 0 && values[slot] == value) {
        remember(name.cache.loads, version, slot);
    }
}

// Whether an instance with inline values may hold `name` itself: its type's shared keys
// hold the name (interned, so found by identity) or a key that could equal it.
bool may_hold(PyTypeObject* type, PyObject* name)
{
    auto* keys = reinterpret_cast<DictKeys*>(reinterpret_cast<PyHeapTypeObject*>(type)->ht_cached_keys);
    if (keys == nullptr || keys->kind != shared_keys) {
        return true;
    }
    const Py_hash_t hash = reinterpret_cast<PyASCIIObject*>(name)->hash;
    StringEntry* entries = string_entries(keys);
    for (Py_ssize_t i = 0; i < keys->entry_count; ++i) {
        PyObject* key = entries[i].key;
        if (key == name || reinterpret_cast<PyASCIIObject*>(key)->hash == hash) {
            return true;
        }
    }
    return false;
}

PyObject* descriptor_attribute(PyObject* object, const Name& name, bool& applied)
{
    applied = false;
    const TypeEntry* entry = find(name.cache.loads, object);
    if (entry == nullptr || entry->method == nullptr || inline_values(object) == nullptr) {
        return nullptr;
    }
    PyTypeObject* type = Py_TYPE(object);
    if (may_hold(type, name)) {
        return nullptr;
    }
    applied = true;
    PyObject* descriptor = entry->method;
    Py_INCREF(descriptor); // __get__ may run code that changes the type
    PyObject* result = Py_TYPE(descriptor)->tp_descr_get(descriptor, object,
                                                        reinterpret_cast<PyObject*>(type));
    Py_DECREF(descriptor);
    return result;
}

bool store_instance_attribute(PyObject* object, const Name& name, PyObject* value)
{
    const TypeEntry* entry = find(name.cache.stores, object);
    if (entry == nullptr) {
        return false;
    }
    PyObject** values = inline_values(object);
    if (values == nullptr) {
        return false;
    }
    PyObject* old = values[entry->slot];
    Py_INCREF(value);
    values[entry->slot] = value;
    if (old == nullptr) {
        add_to_insertion_order(values, entry->slot);
    } else {
        Py_DECREF(old);
    }
    return true;
}

void learn_stored_attribute(PyObject* object, const Name& name, PyObject* value)
{
    PyTypeObject* type = Py_TYPE(object);
    // With nothing of that name on the type, the generic assignment stores into the
    // instance alone.
    if (!plain_instances(type, name) || _PyType_Lookup(type, name) != nullptr) {
        return;
    }
    const unsigned int version = version_of(type);
    PyObject** values = inline_values(object);
    const Py_ssize_t slot = version != 0 && values != nullptr ? shared_slot(type, name) : -1;
    if (slot >= 0 && values[slot] == value) {
        remember(name.cache.stores, version, slot);
    }
}

// The number of keys in the type's shared keys.
Py_ssize_t shared_key_count(PyTypeObject* type)
{
    auto* keys = reinterpret_cast<DictKeys*>(reinterpret_cast<PyHeapTypeObject*>(type)->ht_cached_keys);
    return keys != nullptr && keys->kind == shared_keys ? keys->entry_count : -1;
}

bool method_visible(const TypeEntry& entry, PyObject* object, const Name& name)
{
    // An instance keeping a real dictionary may hold anything.
    if (inline_values(object) == nullptr) {
        return false;
    }
    // Shared keys only ever grow: with no key added since none could hide the method,
    // none can now.
    PyTypeObject* type = Py_TYPE(object);
    const Py_ssize_t count = shared_key_count(type);
    if (count == entry.slot) {
        return true;
    }
    if (count < 0 || may_hold(type, name)) {
        return false;
    }
    const_cast<TypeEntry&>(entry).slot = count;
    return true;
}

void learn_method(PyObject* object, const Name& name, PyObject* method)
{
    PyTypeObject* type = Py_TYPE(object);
    if (!PyUnicode_CheckExact(name.get()) || !usable() || _PyType_Lookup(type, name) != method) {
        return;
    }
    const unsigned int version = version_of(type);
    if (version == 0) {
        return;
    }
    // Instances without a dictionary cannot hide a method of the type; instances with
    // inline values hide it only under a key of the type's shared keys. Instances with a
    // real dictionary can hide anything: a negative entry saves learning at every call.
    Py_ssize_t keys_seen = -1;
    bool cacheable = type->tp_getattro == PyObject_GenericGetAttr &&
                     PyType_HasFeature(Py_TYPE(method), Py_TPFLAGS_METHOD_DESCRIPTOR);
    if (type->tp_flags & Py_TPFLAGS_MANAGED_DICT) {
        if (inline_values(object) == nullptr) {
            return; // this instance only keeps a real dictionary; others may not
        }
        keys_seen = shared_key_count(type);
        cacheable = cacheable && (type->tp_flags & Py_TPFLAGS_HEAPTYPE) && keys_seen >= 0 &&
                    !may_hold(type, name);
    } else if (type->tp_dictoffset != 0) {
        cacheable = false;
    }
    if (cacheable) {
        remember(name.cache.methods, version, keys_seen, method, native_convention(type, method));
    } else {
        remember(name.cache.methods, version, -1, nullptr);
    }
}

#else

bool usable() { return false; }

#ifdef KESTROVA_WATCHED_CACHES

std::uint64_t watched_version = 1;

namespace {

// A dictionary the module watches, and whether each of its keys is an exact string, so that
// a lookup in it runs no code of its keys and may be replayed.
struct Watched {
    PyObject* dict; // identity only
    bool string_keys;
    bool checked; // string_keys holds for the current contents
};

constexpr int no_watcher = -1, watcher_failed = -2;
int watcher = no_watcher;
std::vector<Watched> watched; // a handful: the module's globals, the builtins, the toolkit

Watched* find_watched(PyObject* dict)
{
    for (Watched& record : watched) {
        if (record.dict == dict) {
            return &record;
        }
    }
    return nullptr;
}

// Called before each change. Runs no code and cannot fail.
int on_change(PyDict_WatchEvent event, PyObject* dict, PyObject* key, PyObject*)
{
    ++watched_version;
    Watched* record = find_watched(dict);
    if (record == nullptr) {
        return 0;
    }
    switch (event) {
    case PyDict_EVENT_DEALLOCATED:
        *record = watched.back();
        watched.pop_back();
        break;
    case PyDict_EVENT_ADDED:
        record->string_keys = record->string_keys && PyUnicode_CheckExact(key);
        break;
    case PyDict_EVENT_CLONED:
        record->checked = false; // new contents, all at once
        break;
    default:
        break;
    }
    return 0;
}

bool all_string_keys(PyObject* dict)
{
    Py_ssize_t position = 0;
    PyObject *key, *value;
    while (PyDict_Next(dict, &position, &key, &value)) {
        if (!PyUnicode_CheckExact(key)) {
            return false;
        }
    }
    return true;
}

// Whether lookups in `dict` may be cached: it is watched from now on, and a lookup in it runs
// no code. Sets no error.
bool watch(PyObject* dict)
{
    if (watcher == watcher_failed) {
        return false;
    }
    if (watcher == no_watcher) {
        watcher = PyDict_AddWatcher(on_change);
        if (watcher < 0) {
            PyErr_Clear(); // all watchers taken: lookups stay generic
            watcher = watcher_failed;
            return false;
        }
    }
    Watched* record = find_watched(dict);
    if (record == nullptr) {
        if (PyDict_Watch(watcher, dict) < 0) {
            PyErr_Clear();
            return false;
        }
        try {
            watched.push_back({dict, false, false});
        } catch (const std::bad_alloc&) {
            PyDict_Unwatch(watcher, dict);
            PyErr_Clear();
            return false;
        }
        record = &watched.back();
    }
    if (!record->checked) {
        record->string_keys = all_string_keys(dict);
        record->checked = true;
    }
    return record->string_keys;
}

} // namespace

PyObject* dict_item_slow(PyObject* dict, const Name& name)
{
    const bool cache = PyDict_CheckExact(dict) && PyUnicode_CheckExact(name.get()) && watch(dict);
    PyObject* value = PyDict_GetItemWithError(dict, name);
    // A lazy import is never replayed: the lookup that meets it resolves it.
    if (value != nullptr && cache && !compat::maybe_lazy_import(value)) {
        remember_item(name, dict, watched_version, value);
    }
    return value;
}

#else

PyObject* dict_item_slow(PyObject* dict, const Name& name)
{
    return PyDict_GetItemWithError(dict, name);
}

#endif

void learn_instance_attribute(PyObject*, const Name&, PyObject*) {}
PyObject* descriptor_attribute(PyObject*, const Name&, bool& applied)
{
    applied = false;
    return nullptr;
}
bool store_instance_attribute(PyObject*, const Name&, PyObject*) { return false; }
void learn_stored_attribute(PyObject*, const Name&, PyObject*) {}
void learn_method(PyObject*, const Name&, PyObject*) {}

#endif

} // namespace kestrova::caches
