#include "arguments.hpp"

namespace kestrova {
namespace {

PyObject* parameter_name(const Definition* d, Py_ssize_t index) { return PyTuple_GET_ITEM(d->parameter_names, index); }

bool same_name(PyObject* key, PyObject* name)
{
    return key == name || (PyUnicode_Check(key) && PyUnicode_Compare(key, name) == 0);
}

// The value of the keyword that names `name`, and its index; null if none does.
template <class Keywords>
PyObject* find_keyword(PyObject* name, const Keywords& keywords, Py_ssize_t& index)
{
    PyObject* found = nullptr;
    const auto look = [&](auto&& matches) {
        keywords.each([&](PyObject* key, PyObject* value, Py_ssize_t at) {
            if (!matches(key)) {
                return true;
            }
            found = value;
            index = at;
            return false;
        });
        return found != nullptr;
    };
    if (look([name](PyObject* key) { return key == name; })) {
        return found;
    }
    look([name](PyObject* key) { return same_name(key, name); });
    return found;
}

// Index of the parameter named by `key`, or -1.
Py_ssize_t find_parameter(const Definition* d, PyObject* key)
{
    for (Py_ssize_t i = 0; i < d->parameter_count; ++i) {
        if (same_name(key, parameter_name(d, i))) {
            return i;
        }
    }
    return -1;
}

// Raises the argument error `format`, filled with the bare name and `value`; false.
bool argument_error(const Definition* d, const char* format, PyObject* value = nullptr)
{
    PyErr_Format(PyExc_TypeError, format, d->name, value);
    return false;
}

bool wrong_count(const Definition* d, Py_ssize_t given)
{
    const Py_ssize_t expected = d->parameter_count;
    PyErr_Format(PyExc_TypeError, "%.200U() takes %.8s %zd positional argument%.1s (%zd given)", d->name, "exactly",
                 expected, expected == 1 ? "" : "s", given);
    return false;
}

bool wrong_form(const Definition* d, const char* format, Py_ssize_t given)
{
    PyErr_Format(PyExc_TypeError, format, d->name, given);
    return false;
}

// The binding of either kind of keywords (see arguments.hpp).
template <class Keywords>
bool bind(const Definition* d, PyObject* const* positional, Py_ssize_t given, const Keywords& keywords,
          PyObject** bound)
{
    const Py_ssize_t keyword_count = keywords.size();
    switch (d->signature->form) {
    case CallForm::no_arguments:
        if (keyword_count != 0) {
            return argument_error(d, "%.200U() takes no keyword arguments");
        }
        if (given != 0) {
            return wrong_form(d, "%.200U() takes no arguments (%zd given)", given);
        }
        return true;
    case CallForm::one_argument:
        if (keyword_count != 0) {
            return argument_error(d, "%.200U() takes no keyword arguments");
        }
        if (given != 1) {
            return wrong_form(d, "%.200U() takes exactly one argument (%zd given)", given);
        }
        bound[0] = positional[0];
        return true;
    case CallForm::parameters:
        break;
    }

    const Py_ssize_t expected = d->parameter_count;
    if (given > expected || (keyword_count == 0 && given != expected)) {
        return wrong_count(d, given);
    }
    for (Py_ssize_t i = 0; i < given; ++i) {
        bound[i] = positional[i];
    }
    if (keyword_count == 0) {
        return true;
    }

    Py_ssize_t filled_by[max_parameters];
    for (Py_ssize_t i = given; i < expected; ++i) {
        PyObject* value = find_keyword(parameter_name(d, i), keywords, filled_by[i]);
        if (value == nullptr) {
            return wrong_count(d, given);
        }
        bound[i] = value;
    }
    if (keyword_count == expected - given) {
        return true; // every keyword filled a parameter
    }

    return keywords.each([&](PyObject* key, PyObject*, Py_ssize_t k) {
        if (!PyUnicode_Check(key)) {
            return argument_error(d, "%.200U() keywords must be strings");
        }
        const Py_ssize_t index = find_parameter(d, key);
        if (index < 0) {
            return argument_error(d, "%U() got an unexpected keyword argument '%U'", key);
        }
        if (index < given || filled_by[index] != k) {
            return argument_error(d, "%U() got multiple values for keyword argument '%U'", key);
        }
        return true;
    });
}

} // namespace

bool bind_arguments(const Definition* d, PyObject* const* positional, Py_ssize_t given, const KeywordArray& keywords,
                    PyObject** bound)
{
    return bind(d, positional, given, keywords, bound);
}

bool bind_arguments(const Definition* d, PyObject* const* positional, Py_ssize_t given, const KeywordDict& keywords,
                    PyObject** bound)
{
    return bind(d, positional, given, keywords, bound);
}

} // namespace kestrova
