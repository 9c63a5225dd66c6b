// The portable implementation of every operation, on the public C API alone: what each one
// means, on every interpreter the module builds for.

#include "operations.hpp"

#include "constants.hpp"

namespace kestrova {
namespace {

#ifdef KESTROVA_HAS_LAZY_IMPORTS

// Whether `value`, which the caller holds, is a lazy-import placeholder. The type is the
// interpreter's own, fetched at the first need and kept for the process.
bool is_lazy_import(PyObject* value)
{
    static PyObject* lazy_import_type = nullptr;
    if (lazy_import_type == nullptr) {
        Ref types = checked(PyImport_ImportModule("types"));
        lazy_import_type = checked(PyObject_GetAttrString(types, "LazyImportType")).release();
    }
    return reinterpret_cast<PyObject*>(Py_TYPE(value)) == lazy_import_type;
}

// What the interpreter's lookup of a global gives where it finds `value` under `name` in
// `namespace_` (the globals or the builtins): the value itself, or, for a lazy import, the
// object it resolves to, which then replaces the placeholder in the namespace if the
// namespace still holds it there.
Ref global_value(PyObject* namespace_, const Name& name, PyObject* value)
{
    Ref placeholder = Ref::share(value); // resolving runs code that may rebind the name
    if (!compat::maybe_lazy_import(value) || !is_lazy_import(placeholder)) {
        return placeholder;
    }
    Ref resolved = checked(PyObject_CallMethodNoArgs(placeholder, constants().resolve));
    PyObject* current = nullptr;
    const int found = checked_status(PyDict_GetItemRef(namespace_, name, &current));
    const Ref held = Ref::steal(current);
    if (found != 0 && current == placeholder.get()) {
        checked_status(PyDict_SetItem(namespace_, name, resolved));
    }
    return resolved;
}

#else

Ref global_value(PyObject*, const Name&, PyObject* value) { return Ref::share(value); }

#endif

// What `type` holds under `name`, found along its method resolution order as the
// interpreter's own type lookup finds it (an error there is taken for a missing name).
Ref type_attribute(PyTypeObject* type, PyObject* name)
{
    const Ref mro = Ref::share(type->tp_mro);
    for (Py_ssize_t i = 0; mro && i < PyTuple_GET_SIZE(mro.get()); ++i) {
        const Ref dict = Ref::steal(compat::type_dict(reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(mro.get(), i))));
        if (PyObject* value = dict ? PyDict_GetItemWithError(dict, name) : nullptr) {
            return Ref::share(value);
        }
        PyErr_Clear();
    }
    return {};
}

// Whether binding `found`, a descriptor that binds plainly, to `object` fails: a method or
// slot wrapper of a type that `object` is no instance of.
bool binding_refused(PyObject* found, PyObject* object)
{
    return (Py_IS_TYPE(found, &PyMethodDescr_Type) || Py_IS_TYPE(found, &PyWrapperDescr_Type)) &&
           !PyObject_TypeCheck(object, PyDescr_TYPE(found));
}

// Whether `value`, what the generic lookup gave for a name under which the type holds
// `found`, is `found` bound to `object` (and not the object's own attribute): a method of it,
// or a native method equal to the binding of the method descriptor.
bool is_binding(PyObject* value, PyObject* found, PyObject* object)
{
    if (PyMethod_Check(value)) {
        return PyMethod_GET_SELF(value) == object && PyMethod_GET_FUNCTION(value) == found;
    }
    if (!PyCFunction_Check(value) || PyCFunction_GET_SELF(value) != object || !Py_IS_TYPE(found, &PyMethodDescr_Type)) {
        return false;
    }
    const Ref binding =
        checked(Py_TYPE(found)->tp_descr_get(found, object, reinterpret_cast<PyObject*>(Py_TYPE(object))));
    return checked_status(PyObject_RichCompareBool(binding, value, Py_EQ)) != 0;
}

// The attribute `object` itself holds under `name`, where its type gives it a dictionary, as
// the generic lookup finds it there; or empty.
Ref own_attribute(PyObject* object, const Name& name)
{
    const PyTypeObject* type = Py_TYPE(object);
    if (type->tp_dictoffset == 0 && !(type->tp_flags & Py_TPFLAGS_MANAGED_DICT)) {
        return {};
    }
    const Ref dict = checked(PyObject_GenericGetDict(object, nullptr));
    PyObject* value = PyDict_GetItemWithError(dict, name);
#ifndef KESTROVA_HAS_INSTANCE_DICT_ERRORS
    PyErr_Clear();
#endif
    if (value == nullptr && PyErr_Occurred()) {
        throw PythonError{};
    }
    return Ref::share(value);
}

} // namespace

namespace portable {

FoundMethod find_method(PyObject* object, const Name& name)
{
    PyTypeObject* type = Py_TYPE(object);
    Ref found = type->tp_getattro == PyObject_GenericGetAttr ? type_attribute(type, name) : Ref{};
    if (!found || !compat::binds_plainly(found)) {
        return {portable::attr(object, name), false};
    }
    if (binding_refused(found, object)) {
        // Where the object holds nothing of its own, the call reports the mismatch.
        Ref own = own_attribute(object, name);
        return own ? FoundMethod{std::move(own), false} : FoundMethod{std::move(found), true};
    }
    Ref value = portable::attr(object, name);
    if (is_binding(value, found, object)) {
        return {std::move(found), true};
    }
    return {std::move(value), false};
}

Ref optional_attr(PyObject* object, const Name& name)
{
    // The interpreter's own optional lookup: an AttributeError means "missing", and the
    // generic lookup does not even create one.
    PyObject* value = nullptr;
    if (PyObject_GetOptionalAttr(object, name, &value) < 0) {
        throw PythonError{};
    }
    return Ref::steal(value);
}

Ref global(PyObject* globals, PyObject* builtins, const Name& name)
{
    if (PyObject* value = PyDict_GetItemWithError(globals, name)) {
        return global_value(globals, name, value);
    }
    if (PyErr_Occurred()) {
        throw PythonError{};
    }
    if (PyObject* value = PyDict_GetItemWithError(builtins, name)) {
        return global_value(builtins, name, value);
    }
    if (!PyErr_Occurred()) {
        PyErr_Format(PyExc_NameError, "name '%U' is not defined", name.get());
    }
    throw PythonError{};
}

} // namespace portable

bool compare_equal(PyObject* a, PyObject* b)
{
    Ref result = checked(PyObject_RichCompare(a, b, Py_EQ));
    if (result.get() == Py_True) {
        return true;
    }
    if (result.get() == Py_False) {
        return false;
    }
    return checked_status(PyObject_IsTrue(result)) != 0;
}

Ref import_in_function(PyObject* name, PyObject* globals)
{
    return checked(PyImport_ImportModuleLevelObject(name, globals, Py_None, Py_None, 0));
}

Ref import_module(PyObject* name, PyObject* globals, PyObject* from_list)
{
    Ref locals = checked(PyDict_New());
    return checked(PyImport_ImportModuleLevelObject(name, globals, locals, from_list, 0));
}

PyObject* builtin_print()
{
    static PyObject* print = nullptr; // kept for the process
    if (print == nullptr) {
        Ref builtins = checked(PyImport_ImportModuleLevel("builtins", nullptr, nullptr, nullptr, 0));
        print = checked(PyObject_GetAttr(builtins, constants().print)).release();
    }
    return print;
}

} // namespace kestrova
