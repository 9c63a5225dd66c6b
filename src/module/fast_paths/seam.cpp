// The seam's slow halves (see seam.hpp): the lookups that learn what the fast halves replay,
// the dictionary watchers, and the probe at load.

#include "seam.hpp"

#include "../ref.hpp"

#ifdef KESTROVA_FAST_PATHS

#include <cstring>
#include <new>
#include <vector>

namespace kestrova::fast {

bool active = false;

#ifdef KESTROVA_VERSION_TAGS_WRAP
// Until the probe names its class, a witness whose tag is never the one expected.
const PyTypeObject* tag_witness = &PyBaseObject_Type;
unsigned int witness_version = 0;
#endif

namespace {

// Whether `value` is a lazy-import placeholder, which a lookup resolves and so is never
// replayed from a cache.
bool lazy(PyObject* value) { return compat::maybe_lazy_import(value); }

// ---------------------------------------------------------------------------------------
// Dictionaries whose lookups may be cached

#ifdef KESTROVA_HAS_DICT_WATCHERS

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
// no code. Leaves no error.
bool cacheable(PyObject* dict)
{
    if (watcher == watcher_failed) {
        return false;
    }
    if (watcher == no_watcher) {
        watcher = PyDict_AddWatcher(on_change);
        if (watcher < 0) {
            PyErr_Clear(); // all watchers taken: lookups stay portable
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

#else

// Whether a lookup in `dict` runs no code of its keys, so that its answer may be replayed
// while the dictionary's version holds: from the layout where it tells, else from the keys
// themselves, checked once per version of the few dictionaries seen last.
bool cacheable(PyObject* dict)
{
    const int known = series::string_keys_only(dict);
    if (known >= 0) {
        return known != 0;
    }
    struct Checked {
        PyObject* dict;
        std::uint64_t version;
        bool string_keys;
    };
    static Checked checked[4];
    static int next = 0;
    const std::uint64_t version = series::dict_version(dict);
    for (const Checked& entry : checked) {
        if (entry.dict == dict && entry.version == version) {
            return entry.string_keys;
        }
    }
    bool string_keys = true;
    Py_ssize_t position = 0;
    PyObject *key, *value;
    while (string_keys && PyDict_Next(dict, &position, &key, &value)) {
        string_keys = PyUnicode_CheckExact(key);
    }
    checked[next] = {dict, version, string_keys};
    next = (next + 1) % 4;
    return string_keys;
}

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

// ---------------------------------------------------------------------------------------
// Learning what instances of a type answer: what the generic lookup would do, found without
// running code, and remembered under the type's version tag.

const TypeEntry* remember(Ways<TypeEntry, 4>& ways, const PyTypeObject* type, unsigned int version, Kind kind,
                          Hiding hiding = nowhere, Py_ssize_t slot = -1, PyObject* found = nullptr,
                          int convention = 0)
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

// Where instances of `type` may hold `name` of their own, hiding a non-data descriptor of the
// type; false where the fast paths cannot tell (the instances' dictionary is elsewhere).
bool hiding_of(PyTypeObject* type, Hiding& hiding)
{
    if (series::keeps_values(type)) {
        hiding = shared_keys;
        return true;
    }
    if (type->tp_dictoffset == 0 && !(type->tp_flags & Py_TPFLAGS_MANAGED_DICT)) {
        hiding = nowhere;
        return true;
    }
    hiding = a_dictionary;
    return type->tp_dictoffset > 0;
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

// Whether what the type holds may be remembered as a descriptor: its own behaviour (its
// __get__, its __set__) cannot change behind the owner's version tag only where its type is
// immutable, as the interpreter's own specialisations require.
bool fixed_descriptor(PyObject* found) { return compat::immutable_type(Py_TYPE(found)); }

// An entry for a non-data descriptor or method of the type, shown unless the instance hides
// it; or the portable way where the instance could hide it without the fast paths knowing.
const TypeEntry* remember_descriptor(Ways<TypeEntry, 4>& ways, unsigned int version, Kind kind,
                                     PyTypeObject* type, const Name& name, PyObject* found, int convention)
{
    Hiding hiding;
    if (!hiding_of(type, hiding) || !fixed_descriptor(found)) {
        return remember(ways, type, version, generic);
    }
    Py_ssize_t slot = -1;
    if (hiding == shared_keys) {
        if (series::may_hold(type, name)) {
            return remember(ways, type, version, generic);
        }
        slot = series::shared_key_count(type);
    }
    return remember(ways, type, version, kind, hiding, slot, found, convention);
}

// How a method descriptor found on `type` can be called directly: its calling convention
// when that is one its C function takes without conversion and the descriptor applies to
// the type's instances (so that its own type check would pass); 0 otherwise.
int native_convention(PyTypeObject* type, PyObject* method)
{
    if (!Py_IS_TYPE(method, &PyMethodDescr_Type) || !PyType_IsSubtype(type, PyDescr_TYPE(method))) {
        return 0;
    }
    const int convention = reinterpret_cast<PyMethodDescrObject*>(method)->d_method->ml_flags &
                           (METH_VARARGS | METH_FASTCALL | METH_NOARGS | METH_O | METH_KEYWORDS | METH_METHOD);
    return convention == METH_O || convention == METH_NOARGS || convention == METH_FASTCALL ? convention : 0;
}

// `dict[name]` of an instance's dictionary, as a new reference, or null with or without an
// error, as the interpreter's generic lookup finds it (which before 3.8 takes an error for a
// missing name). As there, the dictionary is held meanwhile: comparing with its other keys
// may run code that replaces it.
PyObject* instance_item(PyObject* dict, const Name& name)
{
    Py_INCREF(dict);
    PyObject* value = PyDict_GetItemWithError(dict, name);
    Py_XINCREF(value);
    Py_DECREF(dict);
#ifndef KESTROVA_HAS_INSTANCE_DICT_ERRORS
    if (value == nullptr) {
        PyErr_Clear();
    }
#endif
    return value;
}

// What `object` itself holds under `name`, hiding a non-data descriptor of its type: 0
// (nothing: the descriptor answers), 1 (its own value answers: a new reference in `*value`),
// -1 (a lookup in its dictionary failed), 2 (cannot tell: the portable way decides; nothing
// has run).
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
        // The descriptor found before the lookup is used after it.
        PyObject* held = instance_item(dict, name);
        if (held != nullptr) {
            *value = held;
            return 1;
        }
        return PyErr_Occurred() ? -1 : 0;
    }
    }
    return 2;
}

} // namespace

// ---------------------------------------------------------------------------------------
// The slow halves

const TypeEntry* learn_load(PyObject* object, const Name& name)
{
    const auto [type, on_type, version] = look_up_on_type(object, name);
    auto& ways = name.cache.loads;
    if (version == 0) {
        return nullptr;
    }
    if (type->tp_getattro != PyObject_GenericGetAttr) {
        return remember(ways, type, version, generic);
    }
    if (on_type != nullptr) {
        const PyTypeObject* kind = Py_TYPE(on_type);
        if (kind->tp_descr_get == nullptr || kind->tp_descr_set != nullptr) {
            return remember(ways, type, version, generic); // a data descriptor, or a plain class attribute
        }
        return remember_descriptor(ways, version, descriptor, type, name, on_type, 0);
    }
    Hiding hiding;
    if (!hiding_of(type, hiding) || hiding != shared_keys) {
        return remember(ways, type, version, generic);
    }
    const Py_ssize_t slot = series::shared_slot(type, name);
    // A name that no instance has set yet is not among the shared keys: learnt later.
    return slot >= 0 ? remember(ways, type, version, value_slot, hiding, slot) : nullptr;
}


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

Outcome descriptor_slow(PyObject* object, const Name& name, const TypeEntry& entry)
{
    PyObject* found = entry.found;
    Py_INCREF(found); // the instance's dictionary, and __get__, may run code
    PyObject* value = nullptr;
    const int own = own_value(entry, object, name, &value);
    if (own == 0) {
        value = Py_TYPE(found)->tp_descr_get(found, object, reinterpret_cast<PyObject*>(Py_TYPE(object)));
    }
    Py_DECREF(found);
    return own == 2 ? not_given : Outcome{value, true};
}

const TypeEntry* learn_store(PyObject* object, const Name& name)
{
    const auto [type, on_type, version] = look_up_on_type(object, name);
    if (version == 0) {
        return nullptr;
    }
    // With no data descriptor of that name on the type (nor one that could become one), the
    // generic assignment stores into the instance alone.
    const bool plain = type->tp_setattro == PyObject_GenericSetAttr && series::keeps_values(type) &&
                       (on_type == nullptr || (fixed_descriptor(on_type) && Py_TYPE(on_type)->tp_descr_set == nullptr));
    const Py_ssize_t slot = plain ? series::shared_slot(type, name) : -1; // (only a class keeping values has them)
    if (plain && slot < 0) {
        return nullptr; // a name that no instance has set yet: learnt later
    }
    return remember(name.cache.stores, type, version, plain ? value_slot : generic, shared_keys, slot);
}

const TypeEntry* learn_method(PyObject* object, const Name& name)
{
    const auto [type, on_type, version] = look_up_on_type(object, name);
    if (version == 0) {
        return nullptr;
    }
    // A method of the type that the interpreter calls unbound (such as the functions of this
    // module, and the native methods of other types).
    if (type->tp_getattro != PyObject_GenericGetAttr || on_type == nullptr || !compat::binds_plainly(on_type)) {
        return remember(name.cache.methods, type, version, generic);
    }
    return remember_descriptor(name.cache.methods, version, method, type, name, on_type,
                               native_convention(type, on_type));
}

int find_method_slow(PyObject* object, const Name& name, const TypeEntry& entry, Found& found)
{
    PyObject* method = entry.found;
    const int convention = entry.convention;
    Py_INCREF(method); // held for the call, which may change the type that holds it
    PyObject* value = nullptr;
    switch (own_value(entry, object, name, &value)) {
    case 0:
        found = {method, convention, true};
        return 1;
    case 1:
        Py_DECREF(method);
        found = {value, 0, false}; // the object's own callable, called without it
        return 1;
    case -1:
        Py_DECREF(method);
        return -1;
    default:
        Py_DECREF(method);
        return 0;
    }
}

// ---------------------------------------------------------------------------------------
// Classes of the module

#ifdef KESTROVA_HAS_TYPE_VECTORCALL

namespace {

// A class of the module, and its initialiser (borrowed) while its version tag holds.
struct ClassCall {
    PyTypeObject* type = nullptr; // identity only
    unsigned int version = 0;
    PyObject* init = nullptr;
};

ClassCall class_calls[16];
PyTypeObject* own_functions = nullptr; // the type of the module's functions
initproc calls_init = nullptr; // the class slot that calls __init__ (typeobject.c's slot_tp_init)
PyObject* init_name = nullptr;
PyObject* empty_tuple = nullptr;

ClassCall* class_call(PyTypeObject* type)
{
    for (ClassCall& entry : class_calls) {
        if (entry.type == type) {
            return &entry;
        }
    }
    return nullptr;
}

// Whether type's call of the class is still object's __new__, then an initialiser that
// binds plainly and is called through vectorcall; found without running code.
bool learn_class_call(PyTypeObject* type, ClassCall& entry)
{
    PyObject* init = _PyType_Lookup(type, init_name);
    const unsigned int version = cache_version(type);
    if (version == 0 || init == nullptr || Py_TYPE(type) != &PyType_Type ||
        type->tp_new != PyBaseObject_Type.tp_new || type->tp_init != calls_init ||
        (type->tp_flags & Py_TPFLAGS_IS_ABSTRACT) || !compat::binds_plainly(init) || !fixed_descriptor(init) ||
        !(Py_TYPE(init)->tp_flags & compat::vectorcall_flag)) {
        return false;
    }
    entry.version = version;
    entry.init = init;
    return true;
}

// type's call, with the arguments as it takes them.
PyObject* type_call(PyObject* callable, PyObject* const* arguments, Py_ssize_t given, PyObject* keyword_names)
{
    PyObject* positional = PyTuple_New(given);
    if (positional == nullptr) {
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < given; ++i) {
        Py_INCREF(arguments[i]);
        PyTuple_SET_ITEM(positional, i, arguments[i]);
    }
    PyObject* keywords = nullptr;
    if (keyword_names != nullptr && PyTuple_GET_SIZE(keyword_names) != 0) {
        keywords = PyDict_New();
        for (Py_ssize_t i = 0; keywords != nullptr && i < PyTuple_GET_SIZE(keyword_names); ++i) {
            if (PyDict_SetItem(keywords, PyTuple_GET_ITEM(keyword_names, i), arguments[given + i]) < 0) {
                Py_CLEAR(keywords);
            }
        }
        if (keywords == nullptr) {
            Py_DECREF(positional);
            return nullptr;
        }
    }
    PyObject* result = Py_TYPE(callable)->tp_call(callable, positional, keywords);
    Py_DECREF(positional);
    Py_XDECREF(keywords);
    return result;
}

PyObject* construct(PyObject* callable, PyObject* const* arguments, size_t count, PyObject* keyword_names)
{
    auto* type = reinterpret_cast<PyTypeObject*>(callable);
    ClassCall* entry = class_call(type);
    const Py_ssize_t given = PyVectorcall_NARGS(count);
    const unsigned int version = cache_version(type);
    if (entry == nullptr || ((version == 0 || entry->version != version) && !learn_class_call(type, *entry))) {
        return type_call(callable, arguments, given, keyword_names);
    }
    // object.__new__ makes the instance (and its values); the initialiser then runs with it
    // first, and must give None.
    PyObject* self = type->tp_new(type, empty_tuple, nullptr);
    if (self == nullptr) {
        return nullptr;
    }
    PyObject* init = entry->init;
    Py_INCREF(init);
    PyObject* result;
    if (count & PY_VECTORCALL_ARGUMENTS_OFFSET) {
        // The caller lends the slot before the arguments: the instance goes there for the call.
        auto** slot = const_cast<PyObject**>(arguments) - 1;
        PyObject* lent = *slot;
        *slot = self;
        const size_t with_self = static_cast<size_t>(given + 1) | PY_VECTORCALL_ARGUMENTS_OFFSET;
        if (Py_TYPE(init) == own_functions) {
            // The module's own initialiser, which reports its failures faithfully.
            const vectorcallfunc vectorcall = *reinterpret_cast<vectorcallfunc*>(
                reinterpret_cast<char*>(init) + own_functions->tp_vectorcall_offset);
            result = vectorcall(init, slot, with_self, keyword_names);
        } else {
            result = PyObject_Vectorcall(init, slot, with_self, keyword_names);
        }
        *slot = lent;
    } else {
        const Py_ssize_t total = given + (keyword_names != nullptr ? PyTuple_GET_SIZE(keyword_names) : 0);
        auto** stack = static_cast<PyObject**>(PyMem_Malloc((total + 2) * sizeof(PyObject*)));
        if (stack == nullptr) {
            result = PyErr_NoMemory();
        } else {
            stack[1] = self;
            for (Py_ssize_t i = 0; i < total; ++i) {
                stack[2 + i] = arguments[i];
            }
            result = PyObject_Vectorcall(init, stack + 1, static_cast<size_t>(given + 1) | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                         keyword_names);
            PyMem_Free(stack);
        }
    }
    Py_DECREF(init);
    if (result != nullptr && result != Py_None) {
        PyErr_Format(PyExc_TypeError, "__init__() should return None, not '%.200s'", Py_TYPE(result)->tp_name);
        Py_CLEAR(result);
    }
    if (result == nullptr) {
        Py_DECREF(self);
        return nullptr;
    }
    Py_DECREF(result);
    return self;
}

// A class's call, one level of native call depth deeper, as the interpreter's generic call of
// a class is.
PyObject* call_class(PyObject* callable, PyObject* const* arguments, size_t count, PyObject* keyword_names)
{
    if (Py_EnterRecursiveCall(" while calling a Python object") != 0) {
        return nullptr;
    }
    PyObject* result = construct(callable, arguments, count, keyword_names);
    Py_LeaveRecursiveCall();
    return result;
}

} // namespace

void adopt_class(PyObject* made, PyTypeObject* functions)
{
    auto* type = reinterpret_cast<PyTypeObject*>(made);
    if (!active) {
        return;
    }
    own_functions = functions;
    if (init_name == nullptr) {
        init_name = PyUnicode_InternFromString("__init__");
        empty_tuple = PyTuple_New(0);
        if (init_name == nullptr || empty_tuple == nullptr) {
            PyErr_Clear();
            Py_CLEAR(init_name);
            return;
        }
    }
    if (calls_init == nullptr) {
        calls_init = type->tp_init; // the first class with an initialiser of the module's shows it
    }
    ClassCall* entry = class_call(type);
    for (ClassCall& free : class_calls) {
        if (entry == nullptr && free.type == nullptr) {
            entry = &free;
        }
    }
    if (entry == nullptr || type->tp_init != calls_init) {
        return;
    }
    *entry = ClassCall{type, 0, nullptr};
    type->tp_vectorcall = call_class;
}

#else

void adopt_class(PyObject*, PyTypeObject*) {}

#endif

// ---------------------------------------------------------------------------------------
// The probe

namespace {

// The running interpreter is of the series and minor version this build is for, and not a
// free-threaded build (whose objects are laid out otherwise).
bool right_interpreter()
{
    const char* version = Py_GetVersion();
    char expected[16];
    PyOS_snprintf(expected, sizeof expected, "%d.%d", PY_MAJOR_VERSION, PY_MINOR_VERSION);
    const std::size_t length = std::strlen(expected);
    return std::strncmp(version, expected, length) == 0 && version[length] == '.' &&
           std::strstr(version, "free-threading") == nullptr && PY_MINOR_VERSION >= series::first_minor &&
           PY_MINOR_VERSION <= series::last_minor;
}

// The facts, checked on objects made for the purpose.
bool layout_matches()
{
    bool ok = true;
    const auto check = [&ok](bool fact) { ok = ok && fact; };

    // The thread state: the exception set in it, and a level of call depth taken and given back.
    PyThreadState* thread = series::thread();
    check(thread == PyThreadState_Get() && !series::error_set(thread));
    PyErr_SetNone(PyExc_KeyError);
    check(series::error_set(thread));
    PyErr_Clear();
    check(series::enter_call(thread));
    series::leave_call(thread);

    // A module's namespace.
    const Ref module = Ref::steal(PyModule_New("kestrova_probe"));
    if (module.get() == nullptr) {
        return false;
    }
    check(series::module_namespace(module) == PyModule_GetDict(module));

    // A dictionary's version, and what its keys kind tells.
    const Ref first = Ref::steal(PyUnicode_InternFromString("kestrova_probe_first"));
    const Ref second = Ref::steal(PyUnicode_InternFromString("kestrova_probe_second"));
    const Ref sentinel = Ref::steal(PyList_New(0));
    const Ref dict = Ref::steal(PyDict_New());
    if (!first.get() || !second.get() || !sentinel.get() || !dict.get() ||
        PyDict_SetItem(dict, first, sentinel) < 0) {
        return false;
    }
#ifndef KESTROVA_HAS_DICT_WATCHERS
    const std::uint64_t version = series::dict_version(dict);
#endif
    const int string_keys = series::string_keys_only(dict);
    if (PyDict_SetItem(dict, Py_None, sentinel) < 0) {
        return false;
    }
#ifndef KESTROVA_HAS_DICT_WATCHERS
    check(series::dict_version(dict) != version);
#endif
    check(string_keys < 0 || (string_keys == 1 && series::string_keys_only(dict) == 0));

    // A class written as Python writes it, and where its instances keep their attributes.
    const Ref class_name = Ref::steal(PyUnicode_FromString("KestrovaProbe"));
    const Ref bases = Ref::steal(PyTuple_New(0));
    const Ref namespace_ = Ref::steal(PyDict_New());
    if (!class_name.get() || !bases.get() || !namespace_.get()) {
        return false;
    }
    const Ref type = Ref::steal(PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject*>(&PyType_Type), class_name.get(),
                                            bases.get(), namespace_.get(), nullptr));
    if (type.get() == nullptr) {
        return false;
    }
    auto* probe_type = reinterpret_cast<PyTypeObject*>(type.get());
    // A class lives in reference cycles; clear them at once, so that it goes with the last
    // reference instead of staying among object's subclasses until a collection.
    struct Dismantle {
        PyObject* type;
        ~Dismantle()
        {
            if (type != nullptr) {
                Py_TYPE(type)->tp_clear(type);
            }
        }
    } dismantle{type};
    const Ref instance = Ref::steal(PyObject_CallNoArgs(type));
    if (instance.get() == nullptr || PyObject_SetAttr(instance, second, Py_None) < 0 ||
        PyObject_SetAttr(instance, first, sentinel) < 0) {
        return false;
    }
    const OnType on_type = look_up_on_type(instance, first);
    const unsigned int version_tag = on_type.version;
    check(version_tag != 0 && on_type.found == nullptr && probe_type->tp_getattro == PyObject_GenericGetAttr);
    Hiding hiding;
    check(hiding_of(probe_type, hiding));
    if (series::has_instance_values) {
        check(hiding == shared_keys);
        PyObject** values = series::readable_values(instance);
        const Py_ssize_t first_slot = series::shared_slot(probe_type, first);
        const Py_ssize_t second_slot = series::shared_slot(probe_type, second);
        check(values != nullptr && values == series::writable_values(instance) && first_slot >= 0 &&
              second_slot >= 0 && first_slot != second_slot);
        if (ok) {
            check(values[first_slot] == sentinel.get() && values[second_slot] == Py_None &&
                  series::shared_key_count(probe_type) == 2 && !series::may_hold(probe_type, class_name));
        }
        // Unset, then set again through the values: the attribute comes last in order.
        if (ok && PyObject_DelAttr(instance, second) == 0 && values[second_slot] == nullptr) {
            Py_INCREF(Py_None);
            values[second_slot] = Py_None;
            series::add_to_insertion_order(values, second_slot);
            const Ref attributes = Ref::steal(PyObject_GenericGetDict(instance, nullptr));
            const Ref keys = Ref::steal(attributes.get() != nullptr ? PyDict_Keys(attributes) : nullptr);
            check(keys.get() != nullptr && PyList_GET_SIZE(keys.get()) == 2 &&
                  PyList_GET_ITEM(keys.get(), 0) == first.get() && PyList_GET_ITEM(keys.get(), 1) == second.get());
        } else {
            ok = false;
        }
    } else {
        PyObject* attributes = hiding == a_dictionary ? series::instance_dict(instance) : nullptr;
        check(attributes != nullptr && PyDict_CheckExact(attributes) &&
              PyDict_GetItemWithError(attributes, first) == sentinel.get());
    }
    // A change to the class renews its version tag.
    if (PyObject_SetAttr(type, second, Py_None) < 0) {
        return false;
    }
    check(series::version_of(probe_type) != version_tag);
#ifdef KESTROVA_VERSION_TAGS_WRAP
    // The class stays for the process, with a tag of its own, as the witness of version tags.
    _PyType_Lookup(probe_type, first);
    witness_version = series::version_of(probe_type);
    check(witness_version != 0);
    if (ok) {
        tag_witness = probe_type;
        dismantle.type = nullptr;
        Py_INCREF(probe_type);
    }
#endif
    return ok;
}

} // namespace

void probe() noexcept
{
    if (!right_interpreter()) {
        return;
    }
    // What the probe makes is its own, and runs no code of the application.
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    const bool matches = layout_matches();
    PyErr_Clear();
    PyErr_Restore(type, value, traceback);
    active = matches;
}

} // namespace kestrova::fast

#endif
