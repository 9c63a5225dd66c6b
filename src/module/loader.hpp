// What the rooms use to make their public names while the module body runs: a table
// row per public name, and builders for functions and classes that report the right
// line if making them fails.
#pragma once

#include "function_type.hpp"

namespace kestrova {

class Loader;

// What a row of a room's table gives by value, where the shared constants do not hold it:
// an integer, a text, an RGB colour, or a name that the row's functions look up (with caches
// of its own). The load makes each object when it makes the row's public name, the first
// time a load gets that far, and keeps it for the process: a load after a failed one finds
// it made.
template <class Value>
struct RowObject {
    Value value;
    mutable PyObject* object = nullptr;
    operator PyObject*() const { return object; }
};

struct Rgb {
    long red, green, blue;
};

using RowInteger = RowObject<long>;
using RowText = RowObject<const char*>; // a null text makes no object
using RowColour = RowObject<Rgb>;

struct RowName {
    mutable const Name* name = nullptr;
    operator const Name&() const { return *name; }
};

// A name the module binds at load: its definition line, and how to make its object.
// Rooms derive their table rows from it.
struct PublicName {
    const char* name;
    int line;
    Ref (*make)(Loader& load, const PublicName& row);
};

// A module-level function described by one signature, whose body reads the row as a Row
// (the row itself, for a function with constants of its own).
template <class Row>
struct PublicFunction : PublicName {
    const SignatureOf<Row>* signature;
};
template <class Row>
Ref make_public_function(Loader& load, const PublicName& row);

class Loader {
public:
    explicit Loader(PyObject* module);

    // Marks the body step or definition being run; a failure reports this line.
    void at(int line) { line_ = line; }
    int line() const { return line_; }
    PyObject* globals() const { return globals_; }

    // Makes the object of a row (see RowObject), unless a load made it already.
    void make(const RowInteger& integer) const;
    void make(const RowText& text) const;
    void make(const RowColour& colour) const;
    void make(const RowName& name, const char* text) const;

    // Makes a function object with the given qualified name, reporting its definition
    // line on failure.
    Ref function(const FunctionDef& def, PyObject* qualname, PyObject* inner = nullptr);

private:
    PyObject* globals_;
    int line_ = 0;
};

template <class Row>
Ref make_public_function(Loader& load, const PublicName& row)
{
    const auto& function = static_cast<const PublicFunction<Row>&>(row);
    Ref qualname = checked(PyUnicode_InternFromString(row.name));
    return load.function({row.name, row.line, *function.signature, static_cast<const Row&>(row)}, qualname);
}

// Makes a class the way `type(name, (), namespace)` does, from methods in definition
// order.
class ClassBuilder {
public:
    ClassBuilder(Loader& load, const PublicName& row);

    // Adds a method. With `inner`, each call of the method makes that inner function,
    // whose qualified name is the method's followed by ".<locals>.".
    void method(const FunctionDef& def, const FunctionDef* inner = nullptr);

    // Calls `type`, reporting the class line on failure.
    Ref finish();

private:
    Loader& load_;
    const PublicName& row_;
    Ref namespace_;
};

} // namespace kestrova
