// What the rooms use to make their public names while the module body runs: a table
// row per public name, and builders for functions and classes that report the right
// line if making them fails.
#pragma once

#include "function.hpp"

namespace kestrova {

class Loader;

// A name the module binds at load: its definition line, and how to make its object.
// Rooms derive their table rows from it.
struct PublicName {
    const char* name;
    int line;
    Ref (*make)(Loader& load, const PublicName& row);
};

// A module-level function described by one signature.
struct PublicFunction : PublicName {
    const Signature* signature;
};
Ref make_public_function(Loader& load, const PublicName& row);

class Loader {
public:
    explicit Loader(PyObject* module);

    // Marks the body step or definition being run; a failure reports this line.
    void at(int line) { line_ = line; }
    int line() const { return line_; }
    PyObject* globals() const { return globals_; }

    // Makes a function object with the given qualified name, reporting its definition
    // line on failure.
    Ref function(const FunctionDef& def, PyObject* qualname, PyObject* inner = nullptr);

private:
    PyObject* globals_;
    int line_ = 0;
};

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
