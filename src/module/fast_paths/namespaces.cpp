// The slow halves of the lookups of names in namespaces (see seam.hpp): which dictionaries
// may be looked in and cached from, and the lookups that remember what they found.

#include "seam.hpp"

#if KESTROVA_FAST_NAMESPACES

namespace kestrova::fast {
namespace {

// Whether `value` is a lazy-import placeholder, which a lookup resolves and so is never
// replayed from a cache.
bool lazy(PyObject* value) { return compat::maybe_lazy_import(value); }

// Whether lookups in `dict` may be cached: a lookup in it runs no code of its keys (they are
// all exact strings, as the kind of its keys tells), and (3.12 on) a dictionary watcher renews
// the stamp of its entries before it changes or goes. Leaves no error.
#ifdef KESTROVA_HAS_DICT_WATCHERS
int on_change(PyDict_WatchEvent, PyObject*, PyObject*, PyObject*)
{
    ++watched_version;
    return 0;
}

int watcher = -1; // -2: none to be had

bool cacheable(PyObject* dict)
{
    if (watcher == -1 && (watcher = PyDict_AddWatcher(on_change)) < 0) {
        watcher = -2;
    }
    if (watcher < 0 || PyDict_Watch(watcher, dict) < 0) {
        PyErr_Clear();
        return false;
    }
    return series::string_keys_only(dict) != 0;
}
#else
bool cacheable(PyObject* dict) { return series::string_keys_only(dict) != 0; }
#endif

// `dict[name]`, looked up only where looking runs no code (every key an exact string), and
// then remembered: `looked` false where the dictionary may run code, which the portable way
// then does once; else the value (borrowed), or null where the name is missing.
struct Item {
    PyObject* value;
    bool looked;
};

Item item(PyObject* dict, const Name& name)
{
    if (!PyDict_CheckExact(dict) || !cacheable(dict)) {
        return {nullptr, false};
    }
    PyObject* value = PyDict_GetItemWithError(dict, name); // (an exact string finds no error)
    if (value == nullptr || lazy(value)) {
        return {value, true};
    }
    auto& ways = name.cache.items;
    DictEntry* entry = nullptr;
    for (DictEntry& candidate : ways.entries) {
        if (candidate.dict == dict || candidate.dict == nullptr) {
            entry = &candidate;
            break;
        }
    }
    if (entry == nullptr) {
        entry = &ways.replace();
    }
    *entry = {dict, stamp(dict), value};
    return {value, true};
}

// `dict[name]`, cached or looked up as item() looks it up.
Item lookup(PyObject* dict, const Name& name)
{
    PyObject* value = cached_item(dict, name);
    return value != nullptr ? Item{value, true} : item(dict, name);
}

// What a name found in a namespace gives: the value, or nothing where it is missing (the
// portable way then reports it, or runs a module's __getattr__) or is a lazy import (which
// the portable way resolves).
Outcome found_in_namespace(const Item& found)
{
    if (!found.looked || found.value == nullptr || lazy(found.value)) {
        return not_given;
    }
    Py_INCREF(found.value);
    return {found.value, true};
}

} // namespace

#ifdef KESTROVA_HAS_DICT_WATCHERS
std::uint64_t watched_version = 1;
#endif

Outcome global_slow(PyObject* globals, PyObject* builtins, const Name& name)
{
    Item found = item(globals, name);
    if (found.looked && found.value == nullptr) {
        found = lookup(builtins, name);
    }
    return found_in_namespace(found);
}

Outcome module_attribute_slow(PyObject* namespace_, const Name& name)
{
    // The module's namespace gives the generic lookup's result for every name this module
    // reads (none of them is an attribute of the module type itself); a missing name, and a
    // lazy import not resolved yet, take the generic lookup, which runs a module-level
    // __getattr__ and resolves the import.
    return found_in_namespace(item(namespace_, name));
}

} // namespace kestrova::fast

#endif
