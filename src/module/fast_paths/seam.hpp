// The seam: faster ways to the results of the portable operations (operations.hpp), where
// the preamble (preamble.hpp) turns them on. This folder is the only place of the module that
// knows an interpreter's private layout (series_*.hpp, each fact naming the header it mirrors)
// or calls its underscore-prefixed functions.
//
// A fast path caches what a lookup found (caches.hpp) only under stamps that cover everything
// its answer depends on, so that a cached result is always the one a fresh lookup would give;
// what no stamp covers is checked at each use, or not cached. Each entry, and what covers it:
//
// - A name in a namespace (the globals, the builtins, a module's, as for `wx.TextCtrl`): the
//   value, borrowed from the dictionary. Its contents: the dictionary's version, unique for the
//   process (3.11), or one stamp that a dictionary watcher renews before any watched dictionary
//   changes or goes (3.12 on); the dictionary's identity is part of the entry. That the lookup
//   runs no code: only dictionaries whose keys are all exact strings are looked in at all (the
//   others go the portable way, which looks once). A lazy import's placeholder is never
//   remembered. Which namespace a module has: checked at each use.
// - What instances of a type answer for a name read, assigned or called: the type's identity
//   and version tag, which any change to the type, its bases or their attributes renews (and
//   which 3.7 to 3.10 give out again after their counter wraps: then no entry is used again).
//   It covers the method found on the type (borrowed from it) and the type's attribute hooks;
//   the method's own behaviour only where its type is immutable (others are not cached), as
//   for a descriptor that could gain a __set__. Where an instance keeps a value (in its values,
//   at a slot of the keys its class shares, which only grow; or in a dictionary), and whether
//   it hides the method: checked at each use.
//
// Everything here is off until the probe at load (probe.cpp) has confirmed the facts against
// the running interpreter.
#pragma once

#include "../names.hpp"

#ifdef KESTROVA_FAST_PATHS

#include "series.hpp"

namespace kestrova::fast {

// Set at load, by probe().
extern bool active;

// Checks the facts of this build's fast paths against the running interpreter and turns the
// fast paths on when they hold. `witness` is a type that nothing changes (on 3.7 to 3.10 its
// version tag witnesses that no tag is given out twice). Runs no code of the application;
// leaves no error.
void probe(PyTypeObject* witness) noexcept;

// What a fast path gives: a new reference, or null with the exception set; or, when it does
// not apply, nothing (`given` false), and the portable operation decides.
struct Outcome {
    PyObject* value;
    bool given;
};
constexpr Outcome not_given{nullptr, false};

// The thread state, for a call of a module function to fetch once; null where no fast path
// uses it.
inline PyThreadState* thread_state()
{
#if KESTROVA_FAST_THREAD_STATE
    return active ? series::thread() : nullptr;
#else
    return nullptr;
#endif
}

// ---------------------------------------------------------------------------------------
// Names in namespaces (namespaces.cpp)

#if KESTROVA_FAST_NAMESPACES

Outcome global_slow(PyObject* globals, PyObject* builtins, const Name& name);
Outcome module_attribute_slow(PyObject* namespace_, const Name& name);

#ifdef KESTROVA_HAS_DICT_WATCHERS
extern std::uint64_t watched_version; // renewed before any watched dictionary changes
inline std::uint64_t stamp(PyObject*) { return watched_version; }
#else
inline std::uint64_t stamp(PyObject* dict) { return series::dict_version(dict); }
#endif

// `dict[name]` (borrowed) where a cache entry vouches for it, else null.
KESTROVA_ALWAYS_INLINE PyObject* cached_item(PyObject* dict, const Name& name)
{
    const std::uint64_t current = stamp(dict);
    for (const DictEntry& entry : name.cache.items.entries) {
        if (entry.dict == dict && entry.stamp == current) {
            return entry.value;
        }
    }
    return nullptr;
}

#endif

// A global `name`: from the module namespace `globals`, else from `builtins`.
KESTROVA_ALWAYS_INLINE Outcome global([[maybe_unused]] PyObject* globals, [[maybe_unused]] PyObject* builtins,
                                      [[maybe_unused]] const Name& name)
{
#if KESTROVA_FAST_NAMESPACES
    if (active) {
        if (PyObject* value = cached_item(globals, name)) {
            Py_INCREF(value);
            return {value, true};
        }
        return global_slow(globals, builtins, name);
    }
#endif
    return not_given;
}

// ---------------------------------------------------------------------------------------
// What instances of a type answer (type_entries.cpp)

#if KESTROVA_FAST_INSTANCE_ATTRIBUTES || KESTROVA_FAST_METHOD_CACHE

#ifdef KESTROVA_VERSION_TAGS_WRAP
// Whether no version tag can have been given out twice since the probe (series_3_7.hpp): a
// type that nothing changes keeps the tag it was given then until the interpreter
// invalidates every tag at a wrap of their counter (a new one then could equal it only if it
// were given out exactly as the counter came round again). After a wrap, nothing is found or
// remembered under a tag again.
extern const PyTypeObject* tag_witness;
extern unsigned int witness_version;
inline bool tags_unique() { return series::version_of(tag_witness) == witness_version; }
#else
constexpr bool tags_unique() { return true; }
#endif

// The version tag of `type` under which it may be looked up in a cache, or 0.
inline unsigned int cache_version(const PyTypeObject* type) { return tags_unique() ? series::version_of(type) : 0; }

// The entry of `ways` for instances of `type` in its current state, or null.
KESTROVA_ALWAYS_INLINE const TypeEntry* find(const Ways<TypeEntry, 4>& ways, const PyTypeObject* type)
{
    const unsigned int version = cache_version(type);
    if (version == 0) {
        return nullptr;
    }
    for (const TypeEntry& entry : ways.entries) {
        if (entry.type == type && entry.version == version) {
            return &entry;
        }
    }
    return nullptr;
}

#endif

#if KESTROVA_FAST_INSTANCE_ATTRIBUTES

const TypeEntry* learn_load(PyObject* object, const Name& name);
const TypeEntry* learn_store(PyObject* object, const Name& name);

// `object.name` for an instance whose type's entry knows where it is.
KESTROVA_ALWAYS_INLINE Outcome instance_attribute(PyObject* object, const Name& name)
{
    const TypeEntry* entry = find(name.cache.loads, Py_TYPE(object));
    if (entry == nullptr && (entry = learn_load(object, name)) == nullptr) {
        return not_given;
    }
    PyObject** values = entry->kind == value_slot ? series::readable_values(object) : nullptr;
    PyObject* value = values != nullptr ? values[entry->slot] : nullptr;
    if (value == nullptr) {
        return not_given;
    }
    Py_INCREF(value);
    return {value, true};
}

#endif

// `object.name`.
KESTROVA_ALWAYS_INLINE Outcome attribute([[maybe_unused]] PyObject* object, [[maybe_unused]] const Name& name)
{
    if (!active) {
        return not_given;
    }
#if KESTROVA_FAST_NAMESPACES
    if (Py_IS_TYPE(object, &PyModule_Type)) {
        PyObject* namespace_ = series::module_namespace(object);
        if (namespace_ == nullptr) {
            return not_given; // a module made without one: the generic lookup reports it
        }
        if (PyObject* value = cached_item(namespace_, name)) {
            Py_INCREF(value);
            return {value, true};
        }
        return module_attribute_slow(namespace_, name);
    }
#endif
#if KESTROVA_FAST_INSTANCE_ATTRIBUTES
    return instance_attribute(object, name);
#else
    return not_given;
#endif
}

// `object.name = value`; false where no fast path applies (nothing done).
KESTROVA_ALWAYS_INLINE bool set_attribute([[maybe_unused]] PyObject* object, [[maybe_unused]] const Name& name,
                                          [[maybe_unused]] PyObject* value)
{
#if KESTROVA_FAST_INSTANCE_ATTRIBUTES
    if (!active) {
        return false;
    }
    const TypeEntry* entry = find(name.cache.stores, Py_TYPE(object));
    if (entry == nullptr && (entry = learn_store(object, name)) == nullptr) {
        return false;
    }
    PyObject** values = entry->kind == value_slot ? series::writable_values(object) : nullptr;
    if (values == nullptr) {
        return false;
    }
    PyObject* old = values[entry->slot];
    Py_INCREF(value);
    values[entry->slot] = value;
    if (old == nullptr) {
        series::add_to_insertion_order(values, entry->slot);
    } else {
        Py_DECREF(old);
    }
    return true;
#else
    return false;
#endif
}

// `object.name`, looked up for a call as the interpreter's method call looks it up: a method
// of the type, called unbound with `object` first (with how to call its C function directly),
// or what the object itself holds under that name, which hides it. 1 (found holds it), 0
// where no cache entry knows (nothing has run), -1 with an exception set.
struct Found {
    PyObject* callable;
    int convention;
    bool unbound;
};

#if KESTROVA_FAST_METHOD_CACHE
const TypeEntry* learn_method(PyObject* object, const Name& name);
int find_method_slow(PyObject* object, const Name& name, const TypeEntry& entry, Found& found);
#endif

KESTROVA_ALWAYS_INLINE int find_method([[maybe_unused]] PyObject* object, [[maybe_unused]] const Name& name,
                                       [[maybe_unused]] Found& found)
{
#if KESTROVA_FAST_METHOD_CACHE
    if (!active) {
        return 0;
    }
    PyTypeObject* type = Py_TYPE(object);
    const TypeEntry* entry = find(name.cache.methods, type);
    if (entry == nullptr && (entry = learn_method(object, name)) == nullptr) {
        return 0;
    }
    if (entry->kind != method) {
        return 0;
    }
    bool shown;
    switch (entry->hiding) {
    case nowhere:
        shown = true;
        break;
    case shared_keys:
        shown = series::readable_values(object) != nullptr && series::shared_key_count(type) == entry->slot;
        break;
    default:
        shown = series::instance_dict(object) == nullptr;
        break;
    }
    if (!shown) {
        return find_method_slow(object, name, *entry, found);
    }
    Py_INCREF(entry->found); // held for the call, which may change the type that holds it
    found = {entry->found, entry->convention, true};
    return 1;
#else
    return 0;
#endif
}

// ---------------------------------------------------------------------------------------
// Calls

// `callable(*arguments[:count])` (count as vectorcall counts), through its vectorcall, with
// the interpreter's check of the result, where the call has fetched the thread state.
KESTROVA_ALWAYS_INLINE PyObject* call([[maybe_unused]] PyThreadState* thread, PyObject* callable,
                                      PyObject* const* arguments, size_t count, PyObject* keyword_names)
{
#if KESTROVA_FAST_THREAD_STATE && defined(KESTROVA_HAS_VECTORCALL)
    // Include/cpython/abstract.h (PyVectorcall_Function): the callable's vectorcall.
    const PyTypeObject* type = Py_TYPE(callable);
    if (thread != nullptr && (type->tp_flags & compat::vectorcall_flag)) {
        const vectorcallfunc vectorcall =
            *reinterpret_cast<vectorcallfunc*>(reinterpret_cast<char*>(callable) + type->tp_vectorcall_offset);
        if (vectorcall != nullptr) {
            PyObject* result = vectorcall(callable, arguments, count, keyword_names);
            return result != nullptr && !series::error_set(thread) ? result
                                                                   : series::check_result(thread, callable, result);
        }
    }
#endif
    return PyObject_Vectorcall(callable, arguments, count, keyword_names);
}

// The call of what find_method found, `arguments[0]` the object it was found on: a method's C
// function directly, as the interpreter's specialised call calls it, where its calling
// convention takes the arguments as they are.
KESTROVA_ALWAYS_INLINE PyObject* call_found(PyThreadState* thread, const Found& found, PyObject* const* arguments,
                                            size_t count, PyObject* keyword_names)
{
    const Py_ssize_t given = PyVectorcall_NARGS(count);
    if (!found.unbound) {
        return call(thread, found.callable, arguments + 1,
                    static_cast<size_t>(given - 1) | PY_VECTORCALL_ARGUMENTS_OFFSET, keyword_names);
    }
#if KESTROVA_FAST_NATIVE_CALLS
    const int convention = keyword_names == nullptr && thread != nullptr ? found.convention : 0;
    if ((convention == METH_O && given == 2) || (convention == METH_NOARGS && given == 1) ||
        convention == METH_FASTCALL) {
        // Its C function is called as many levels of native call depth deeper as the public
        // call of the descriptor would be.
        const PyMethodDef* definition = series::method_definition(found.callable);
        constexpr const char* where = " while calling a Python object";
        if (Py_EnterRecursiveCall(where) != 0) {
            return nullptr;
        }
        if (series::method_call_levels > 1 && Py_EnterRecursiveCall(where) != 0) {
            Py_LeaveRecursiveCall();
            return nullptr;
        }
        PyObject* self = arguments[0];
        PyObject* result;
        if (convention == METH_FASTCALL) {
            using Fast = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t);
            const auto function = reinterpret_cast<Fast>(reinterpret_cast<void (*)(void)>(definition->ml_meth));
            result = function(self, arguments + 1, given - 1);
        } else {
            result = definition->ml_meth(self, convention == METH_O ? arguments[1] : nullptr);
        }
        if (series::method_call_levels > 1) {
            Py_LeaveRecursiveCall();
        }
        Py_LeaveRecursiveCall();
        return result != nullptr && !series::error_set(thread) ? result
                                                               : series::check_result(thread, found.callable, result);
    }
#endif
    return call(thread, found.callable, arguments, count, keyword_names);
}

} // namespace kestrova::fast

#endif
