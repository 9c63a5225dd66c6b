// The probe at load: each fact of this build's fast paths, checked on objects made for the
// purpose, against what the interpreter's public calls report of them, so that a wrong fact
// turns the fast paths off instead of misleading them (see seam.hpp).

#include "seam.hpp"

#ifdef KESTROVA_FAST_PATHS

#include <cstring>

namespace kestrova::fast {

bool active = false;

namespace {

// What the checks look at, made once per probe; a check that needs what could not be made
// fails.
struct Specimens {
    Ref first = Ref::steal(PyUnicode_InternFromString("kestrova_probe_first"));
    Ref second = Ref::steal(PyUnicode_InternFromString("kestrova_probe_second"));
    Ref absent = Ref::steal(PyUnicode_InternFromString("kestrova_probe_absent"));
    Ref type; // a class made as a class statement makes it
    PyTypeObject* witness;
};

#if KESTROVA_FAST_THREAD_STATE
bool thread_state(Specimens&)
{
    PyThreadState* thread = series::thread();
    if (thread != PyThreadState_Get() || series::error_set(thread)) {
        return false;
    }
    PyErr_SetNone(PyExc_KeyError);
    const bool seen = series::error_set(thread);
    PyErr_Clear();
    return seen && !series::error_set(thread);
}
#endif

#if KESTROVA_FAST_NAMESPACES
bool module_namespace(Specimens&)
{
    const Ref module = Ref::steal(PyModule_New("kestrova_probe"));
    return module && series::module_namespace(module) == PyModule_GetDict(module);
}

// Whether a dictionary's keys are all exact strings, as their kind tells; and (3.11) that its
// version changes with it, even where the number of its keys stays.
bool dictionary_stamps(Specimens& s)
{
    const Ref dict = Ref::steal(PyDict_New());
    if (!dict || PyDict_SetItem(dict, s.first, Py_None) < 0 || series::string_keys_only(dict) != 1) {
        return false;
    }
#ifndef KESTROVA_HAS_DICT_WATCHERS
    const std::uint64_t version = series::dict_version(dict);
    if (PyDict_SetItem(dict, s.first, Py_True) < 0 || series::dict_version(dict) == version) {
        return false;
    }
#endif
    return PyDict_SetItem(dict, Py_None, Py_None) == 0 && series::string_keys_only(dict) == 0;
}
#endif

#if KESTROVA_FAST_INSTANCE_ATTRIBUTES || KESTROVA_FAST_METHOD_CACHE
// A class has a version tag once looked up on, and a new one after a change. On 3.7 to 3.10
// the witness that no tag has been given out twice is given its tag.
bool version_tags(Specimens& s)
{
    auto* type = reinterpret_cast<PyTypeObject*>(s.type.get());
    if (type == nullptr) {
        return false;
    }
    _PyType_Lookup(type, s.first);
    const unsigned int version = series::version_of(type);
    if (version == 0 || PyObject_SetAttr(s.type, s.second, Py_None) < 0 || series::version_of(type) == version) {
        return false;
    }
#ifdef KESTROVA_VERSION_TAGS_WRAP
    _PyType_Lookup(s.witness, s.first);
    witness_version = series::version_of(s.witness);
    tag_witness = s.witness;
    return witness_version != 0;
#else
    return true;
#endif
}

#endif

#if KESTROVA_FAST_METHOD_CACHE
// The dictionary of an object at its type's tp_dictoffset (an exception's).
bool instance_dictionaries(Specimens& s)
{
    const Ref error = Ref::steal(PyObject_CallNoArgs(PyExc_Exception));
    if (!error || Py_TYPE(error.get())->tp_dictoffset <= 0 || PyObject_SetAttr(error, s.first, Py_None) < 0) {
        return false;
    }
    const Ref dict = Ref::steal(PyObject_GenericGetDict(error, nullptr));
    return dict && series::instance_dict(error) == dict.get();
}
#endif

#if KESTROVA_FAST_INSTANCE_ATTRIBUTES
#if KESTROVA_FAST_METHOD_CACHE
// The keys a class shares are counted, and one they do not hold is told apart.
bool class_keys_counted(PyTypeObject* type, PyObject* absent)
{
    return series::shared_key_count(type) == 2 && !series::may_hold(type, absent);
}
#else
constexpr bool class_keys_counted(PyTypeObject*, PyObject*) { return true; }
#endif

// Where instances of a class keep their attributes: values at the slots of the names their
// class shares, in order of assignment; and no values to write into once they keep a
// dictionary.
bool instance_values(Specimens& s)
{
    auto* type = reinterpret_cast<PyTypeObject*>(s.type.get());
    const Ref instance = Ref::steal(type != nullptr ? PyObject_CallNoArgs(s.type) : nullptr);
    const Ref other = Ref::steal(type != nullptr ? PyObject_CallNoArgs(s.type) : nullptr);
    if (!instance || !other || !series::keeps_values(type) || PyObject_SetAttr(instance, s.second, Py_None) < 0 ||
        PyObject_SetAttr(instance, s.first, Py_True) < 0) {
        return false;
    }
    PyObject** values = series::readable_values(instance);
    const Py_ssize_t first = series::shared_slot(type, s.first), second = series::shared_slot(type, s.second);
    if (values == nullptr || values != series::writable_values(instance) || first < 0 || second < 0 ||
        first == second || values[first] != Py_True || values[second] != Py_None ||
        !class_keys_counted(type, s.absent)) {
        return false;
    }
    // Unset, then set again through the values: the attribute comes last in order.
    if (PyObject_DelAttr(instance, s.second) < 0 || values[second] != nullptr) {
        return false;
    }
    values[second] = Py_NewRef(Py_None);
    series::add_to_insertion_order(values, second);
    const Ref attributes = Ref::steal(PyObject_GenericGetDict(instance, nullptr));
    const Ref keys = Ref::steal(attributes ? PyDict_Keys(attributes) : nullptr);
    // Another instance, once it keeps a dictionary, has no values to write into, nor any to
    // read once that dictionary is replaced.
    const Ref dict = Ref::steal(PyObject_GenericGetDict(other, nullptr));
    const bool kept = dict && series::writable_values(other) == nullptr;
    const Ref replacement = Ref::steal(PyDict_New());
    return keys && PyList_GET_SIZE(keys.get()) == 2 && PyList_GET_ITEM(keys.get(), 0) == s.first.get() &&
           PyList_GET_ITEM(keys.get(), 1) == s.second.get() && kept && replacement &&
           PyObject_SetAttrString(other, "__dict__", replacement) == 0 && series::readable_values(other) == nullptr;
}
#endif

#if KESTROVA_FAST_NATIVE_CALLS
// A method descriptor's definition is the one its binding calls.
bool method_definitions(Specimens&)
{
    const Ref list = Ref::steal(PyList_New(0));
    const Ref descriptor = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(&PyList_Type), "append"));
    const Ref bound = Ref::steal(list ? PyObject_GetAttrString(list, "append") : nullptr);
    if (!descriptor || !bound || !Py_IS_TYPE(descriptor.get(), &PyMethodDescr_Type) ||
        !PyCFunction_Check(bound.get())) {
        return false;
    }
    const PyMethodDef* definition = series::method_definition(descriptor);
    return definition == reinterpret_cast<PyCFunctionObject*>(bound.get())->m_ml &&
           definition->ml_meth == PyCFunction_GetFunction(bound) && definition->ml_flags == PyCFunction_GetFlags(bound);
}
#endif

// Each fact of the fast paths this build has.
bool (*const facts[])(Specimens&) = {
#if KESTROVA_FAST_THREAD_STATE
    thread_state,
#endif
#if KESTROVA_FAST_NAMESPACES
    module_namespace,      dictionary_stamps,
#endif
#if KESTROVA_FAST_INSTANCE_ATTRIBUTES || KESTROVA_FAST_METHOD_CACHE
    version_tags,
#endif
#if KESTROVA_FAST_METHOD_CACHE
    instance_dictionaries,
#endif
#if KESTROVA_FAST_INSTANCE_ATTRIBUTES
    instance_values,
#endif
#if KESTROVA_FAST_NATIVE_CALLS
    method_definitions,
#endif
};

// The running interpreter is of the minor version this build is for, and not a free-threaded
// build (whose objects are laid out otherwise).
bool right_interpreter()
{
    const char* version = Py_GetVersion();
    char expected[16];
    PyOS_snprintf(expected, sizeof expected, "%d.%d.", PY_MAJOR_VERSION, PY_MINOR_VERSION);
    return std::strncmp(version, expected, std::strlen(expected)) == 0 &&
           std::strstr(version, "free-threading") == nullptr;
}

Ref probe_class()
{
    const Ref name = Ref::steal(PyUnicode_FromString("KestrovaProbe"));
    const Ref bases = Ref::steal(PyTuple_New(0));
    const Ref namespace_ = Ref::steal(PyDict_New());
    if (!name || !bases || !namespace_) {
        return {};
    }
    return Ref::steal(PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject*>(&PyType_Type), name.get(), bases.get(),
                                                   namespace_.get(), nullptr));
}

} // namespace

void probe(PyTypeObject* witness) noexcept
{
    if (!right_interpreter()) {
        return;
    }
    // What the probe makes is its own, and runs no code of the application.
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    Specimens specimens;
    specimens.witness = witness;
    if (KESTROVA_FAST_INSTANCE_ATTRIBUTES || KESTROVA_FAST_METHOD_CACHE) {
        specimens.type = probe_class();
    }
    bool holds = specimens.first && specimens.second && specimens.absent;
    for (const auto& fact : facts) {
        holds = holds && fact(specimens);
    }
    // A class lives in reference cycles; clear them at once, so that it goes with the last
    // reference instead of staying among object's subclasses until a collection.
    if (PyObject* made = specimens.type.get()) {
        Py_TYPE(made)->tp_clear(made);
    }
    PyErr_Clear();
    PyErr_Restore(type, value, traceback);
    active = holds;
}

} // namespace kestrova::fast

#endif
