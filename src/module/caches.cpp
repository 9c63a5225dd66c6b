#include "caches.hpp"

namespace kestrova::caches {

#ifdef KESTROVA_INLINE_CACHES

bool enabled = false;
DictEntry dict_entries[table_size];
TypeEntry method_entries[table_size];
TypeEntry attribute_entries[table_size];

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

// A valid version tag of the type (one that a later change to it will reset), or 0.
unsigned int version_of(PyTypeObject* type)
{
    return (type->tp_flags & Py_TPFLAGS_VALID_VERSION_TAG) ? type->tp_version_tag : 0;
}

void store(TypeEntry& entry, PyObject* name, unsigned int version, PyObject* method, Py_ssize_t slot)
{
    Py_INCREF(name);
    Py_XSETREF(entry.name, name);
    entry.version = version;
    entry.method = method;
    entry.slot = slot;
}

// Checks the layout the caches read on probe objects of the running interpreter: a
// dictionary's keys kind, and where an instance keeps an attribute.
bool layout_matches()
{
    Ref name = checked(PyUnicode_InternFromString("kestrova_probe"));
    Ref sentinel = checked(PyList_New(0));
    Ref dict = checked(PyDict_New());
    checked_status(PyDict_SetItem(dict, name, sentinel));
    if (keys_of(dict)->kind != string_keys || keys_of(dict)->entry_count != 1 ||
        string_entries(keys_of(dict))[0].key != name.get()) {
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
    if (!(probe_type->tp_flags & Py_TPFLAGS_MANAGED_DICT)) {
        return false;
    }
    Ref instance = checked(PyObject_CallNoArgs(type));
    checked_status(PyObject_SetAttr(instance, name, sentinel));
    PyObject** values = inline_values(instance);
    const Py_ssize_t slot = shared_slot(probe_type, name);
    return values != nullptr && slot >= 0 && values[slot] == sentinel.get();
}

} // namespace

void enable()
{
    if (enabled) {
        return;
    }
    try {
        enabled = layout_matches();
    } catch (const PythonError&) {
        PyErr_Clear(); // the caches stay off; nothing else depends on the probe
    }
}

PyObject* dict_item_slow(PyObject* dict, PyObject* name)
{
    PyObject* value = PyDict_GetItemWithError(dict, name);
    // Only a dictionary whose keys are all exact strings answers without running code of
    // its keys (their __eq__), so only its answers may be replayed.
    if (value != nullptr && enabled && PyDict_CheckExact(dict) && PyUnicode_CheckExact(name) &&
        keys_of(dict)->kind == string_keys) {
        DictEntry& entry = dict_entries[slot_of(name, reinterpret_cast<std::uintptr_t>(dict) >> 4)];
        Py_INCREF(name);
        Py_XSETREF(entry.name, name);
        entry.dict = dict;
        entry.version = reinterpret_cast<PyDictObject*>(dict)->ma_version_tag;
        entry.value = value;
    }
    return value;
}

void learn_instance_attribute(PyObject* object, PyObject* name, PyObject* value)
{
    PyTypeObject* type = Py_TYPE(object);
    const unsigned long needed = Py_TPFLAGS_MANAGED_DICT | Py_TPFLAGS_HEAPTYPE;
    if (!enabled || (type->tp_flags & needed) != needed ||
        type->tp_getattro != PyObject_GenericGetAttr || !PyUnicode_CheckExact(name)) {
        return;
    }
    // With nothing of that name on the type, the generic lookup reads the instance alone.
    if (_PyType_Lookup(type, name) != nullptr) {
        return;
    }
    const unsigned int version = version_of(type);
    PyObject** values = inline_values(object);
    const Py_ssize_t slot = version != 0 && values != nullptr ? shared_slot(type, name) : -1;
    if (slot < 0 || values[slot] != value) {
        return;
    }
    store(attribute_entries[slot_of(name, version)], name, version, nullptr, slot);
}

void learn_method(PyObject* object, PyObject* name, PyObject* method)
{
    PyTypeObject* type = Py_TYPE(object);
    // Without an instance dictionary nothing can hide a method of the type.
    if (!enabled || type->tp_getattro != PyObject_GenericGetAttr || !PyUnicode_CheckExact(name) ||
        type->tp_dictoffset != 0 || (type->tp_flags & Py_TPFLAGS_MANAGED_DICT) ||
        !PyType_HasFeature(Py_TYPE(method), Py_TPFLAGS_METHOD_DESCRIPTOR) ||
        _PyType_Lookup(type, name) != method) {
        return;
    }
    const unsigned int version = version_of(type);
    if (version != 0) {
        store(method_entries[slot_of(name, version)], name, version, method, -1);
    }
}

#else

void enable() {}

PyObject* dict_item_slow(PyObject* dict, PyObject* name)
{
    return PyDict_GetItemWithError(dict, name);
}

void learn_instance_attribute(PyObject*, PyObject*, PyObject*) {}
void learn_method(PyObject*, PyObject*, PyObject*) {}

#endif

} // namespace kestrova::caches
