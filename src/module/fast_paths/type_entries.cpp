// The slow halves of the lookups on instances (see seam.hpp): learning what instances of a
// type answer for a name, without running code, remembered under the type's version tag, and
// the cases the fast halves leave to them.

#include "seam.hpp"

#if KESTROVA_FAST_INSTANCE_ATTRIBUTES || KESTROVA_FAST_METHOD_CACHE

namespace kestrova::fast {

#ifdef KESTROVA_VERSION_TAGS_WRAP
// Until the probe names the witness, one whose tag is never the one expected.
const PyTypeObject* tag_witness = &PyBaseObject_Type;
unsigned int witness_version = 0;
#endif

namespace {

const TypeEntry* remember(Ways<TypeEntry, 4>& ways, const PyTypeObject* type, unsigned int version, Kind kind,
                          Hiding hiding = nowhere, Py_ssize_t slot = -1, PyObject* found = nullptr, int convention = 0)
{
    TypeEntry* entry = nullptr;
    for (TypeEntry& candidate : ways.entries) {
        if (candidate.type == type || candidate.version == 0) {
            entry = &candidate;
            break;
        }
    }
    if (entry == nullptr) {
        entry = &ways.replace();
    }
    *entry = TypeEntry{type, version, kind, hiding, static_cast<std::uint8_t>(convention), slot, found};
    return entry;
}

// What the type of an object has under a name (borrowed), and the type's version tag, which
// the lookup gives it if it has none; found without running code. A version of 0: nothing
// may be remembered.
struct OnType {
    PyTypeObject* type;
    PyObject* found;
    unsigned int version;
};

OnType look_up_on_type(PyObject* object, PyObject* name)
{
    PyTypeObject* type = Py_TYPE(object);
    PyObject* found = _PyType_Lookup(type, name);
    return {type, found, cache_version(type)};
}

// Whether what the type holds may be remembered: its own behaviour (its __get__, its __set__)
// cannot change behind the owner's version tag only where its type is immutable, as the
// interpreter's own specialisations require.
bool fixed_descriptor(PyObject* found) { return compat::immutable_type(Py_TYPE(found)); }

} // namespace

#if KESTROVA_FAST_INSTANCE_ATTRIBUTES

// A name of the instance's own, where nothing of the type's takes part: the slot of its values.
const TypeEntry* learn_load(PyObject* object, const Name& name)
{
    const auto [type, on_type, version] = look_up_on_type(object, name);
    if (version == 0) {
        return nullptr;
    }
    const bool plain = type->tp_getattro == PyObject_GenericGetAttr && on_type == nullptr && series::keeps_values(type);
    const Py_ssize_t slot = plain ? series::shared_slot(type, name) : -1;
    if (plain && slot < 0) {
        return nullptr; // a name that no instance has set yet: learnt later
    }
    return remember(name.cache.loads, type, version, plain ? value_slot : generic, shared_keys, slot);
}

// With no data descriptor of that name on the type (nor one that could become one), the
// generic assignment stores into the instance alone.
const TypeEntry* learn_store(PyObject* object, const Name& name)
{
    const auto [type, on_type, version] = look_up_on_type(object, name);
    if (version == 0) {
        return nullptr;
    }
    const bool plain = type->tp_setattro == PyObject_GenericSetAttr && series::keeps_values(type) &&
                       (on_type == nullptr || (fixed_descriptor(on_type) && Py_TYPE(on_type)->tp_descr_set == nullptr));
    const Py_ssize_t slot = plain ? series::shared_slot(type, name) : -1;
    if (plain && slot < 0) {
        return nullptr;
    }
    return remember(name.cache.stores, type, version, plain ? value_slot : generic, shared_keys, slot);
}

#endif

#if KESTROVA_FAST_METHOD_CACHE

namespace {

// How a method descriptor found on `type` can be called directly: its calling convention
// when that is one its C function takes without conversion and the descriptor applies to
// the type's instances (so that its own type check would pass); 0 otherwise.
int native_convention([[maybe_unused]] PyTypeObject* type, [[maybe_unused]] PyObject* method)
{
#if KESTROVA_FAST_NATIVE_CALLS
    if (!Py_IS_TYPE(method, &PyMethodDescr_Type) || !PyType_IsSubtype(type, PyDescr_TYPE(method))) {
        return 0;
    }
    const int convention = series::method_definition(method)->ml_flags &
                           (METH_VARARGS | METH_FASTCALL | METH_NOARGS | METH_O | METH_KEYWORDS | METH_METHOD);
    return convention == METH_O || convention == METH_NOARGS || convention == METH_FASTCALL ? convention : 0;
#else
    return 0;
#endif
}

// What `object` itself holds under `name`, hiding the method of its type: 0 (nothing: the
// method answers), 1 (its own value answers: a new reference in `*value`), -1 (a lookup in
// its dictionary failed), 2 (cannot tell: the portable way decides; nothing has run).
int own_value(const TypeEntry& entry, PyObject* object, const Name& name, PyObject** value)
{
    PyTypeObject* type = Py_TYPE(object);
    switch (entry.hiding) {
    case nowhere:
        return 0;
    case shared_keys: {
        // Shared keys only ever grow: with no key added since none could hide the name,
        // none can now.
        if (series::readable_values(object) == nullptr) {
            return 2; // the instance keeps a dictionary
        }
        const Py_ssize_t count = series::shared_key_count(type);
        if (count == entry.slot) {
            return 0;
        }
        if (count < 0 || series::may_hold(type, name)) {
            return 2;
        }
        const_cast<TypeEntry&>(entry).slot = count;
        return 0;
    }
    case a_dictionary: {
        PyObject* dict = series::instance_dict(object);
        if (dict == nullptr) {
            return 0;
        }
        // As the interpreter's own lookup, the dictionary is held meanwhile: comparing with
        // its other keys may run code that replaces it. Before 3.8 a failed lookup is taken
        // for a missing name.
        Py_INCREF(dict);
        *value = PyDict_GetItemWithError(dict, name);
        Py_XINCREF(*value);
        Py_DECREF(dict);
#ifndef KESTROVA_HAS_INSTANCE_DICT_ERRORS
        PyErr_Clear();
#endif
        return *value != nullptr ? 1 : PyErr_Occurred() ? -1 : 0;
    }
    }
    return 2;
}

} // namespace

// A method of the type that the interpreter calls unbound (such as the functions of this
// module, and the native methods of other types), shown unless the instance hides it; or the
// portable way where the instance could hide it without the fast paths knowing.
const TypeEntry* learn_method(PyObject* object, const Name& name)
{
    const auto [type, on_type, version] = look_up_on_type(object, name);
    auto& ways = name.cache.methods;
    if (version == 0) {
        return nullptr;
    }
    Hiding hiding = nowhere;
    if (series::keeps_values(type)) {
        hiding = shared_keys;
    } else if (type->tp_dictoffset != 0 || (type->tp_flags & Py_TPFLAGS_MANAGED_DICT)) {
        hiding = a_dictionary;
    }
    if (type->tp_getattro != PyObject_GenericGetAttr || on_type == nullptr || !compat::binds_plainly(on_type) ||
        !fixed_descriptor(on_type) || (hiding == a_dictionary && type->tp_dictoffset <= 0) ||
        (hiding == shared_keys && series::may_hold(type, name))) {
        return remember(ways, type, version, generic);
    }
    const Py_ssize_t slot = hiding == shared_keys ? series::shared_key_count(type) : -1;
    return remember(ways, type, version, method, hiding, slot, on_type, native_convention(type, on_type));
}

int find_method_slow(PyObject* object, const Name& name, const TypeEntry& entry, Found& found)
{
    PyObject* method = entry.found;
    Py_INCREF(method); // held for the call, which may change the type that holds it
    PyObject* value = nullptr;
    const int own = own_value(entry, object, name, &value);
    if (own == 0) {
        found = {method, entry.convention, true};
        return 1;
    }
    Py_DECREF(method);
    if (own == 1) {
        found = {value, 0, false}; // the object's own callable, called without it
    }
    return own == 2 ? 0 : own;
}

#endif

} // namespace kestrova::fast

#endif
