// The one native function type. Every public function, every method and every inner
// handler of the module is an instance of it, described by a row of data: a name, a
// definition line and a signature (parameters, calling form, body).
#pragma once

#include <initializer_list>

#include "constants.hpp"
#include "operations.hpp"
#include "ref.hpp"

namespace kestrova {

class Call;

// A body performs the function's statements. `arguments` holds one object per
// parameter, in parameter order. Failures are signalled with PythonError.
using Body = void (*)(Call& call, PyObject* const* arguments);

// How a function takes its arguments; each form has its own argument errors.
enum class CallForm {
    parameters,   // every parameter required, by position or by keyword
    no_arguments, // nothing at all
    one_argument, // exactly one positional argument, no keywords
};

constexpr int max_parameters = 8;

// What functions of one kind share.
struct Signature {
    CallForm form;
    Body body;
    const char* parameters[max_parameters]; // in order; unused entries are null
    const char* free_variables[3];          // names the function closes over, sorted
};

// One function: its bare name, definition line and signature, and the row of the
// owning table that its body reads (or null).
struct FunctionDef {
    const char* name;
    int line;
    const Signature* signature;
    const void* row;
};

struct Function {
    PyObject_HEAD
#ifdef KESTROVA_HAS_VECTORCALL
    vectorcallfunc vectorcall;
#endif
    // What every function made from one definition shares is read through `definition`:
    // the function itself, or, for a function that a call made, its prototype (held).
    Function* definition;

    // The definition: a row of a table, and what the load made from it.
    const Signature* signature;
    const void* row;
    Body body;                  // signature->body
    Py_ssize_t parameter_count; // the length of parameter_names
    PyObject* name;             // the bare name (interned), which argument errors use
    int line;                   // the definition line, where argument errors report
    PyObject* code;            // the bare name, the line, the parameters, the free variables
    PyObject* qualname;        // the qualified name it is defined with
    PyObject* parameter_names; // tuple of interned names, in parameter order
    PyObject* globals;         // the module namespace
    PyObject* builtins;        // the builtins' namespace, fixed when the function is made
    PyObject* inner;           // the prototype of the function each call makes, or null

    // This object's own.
    PyObject* closure; // tuple of cells, or null
    // Attributes as assigned; null until then, for the definition's own.
    PyObject* assigned_name;
    PyObject* assigned_qualname;
    PyObject* module;      // null: the module's name
    PyObject* doc;         // null: None
    PyObject* annotations; // made at the first read
    PyObject* annotate;    // null: None
    PyObject* type_params; // null: ()
    PyObject* dict;
    PyObject* weakrefs;
};

// Creates the type once per process.
void ready_function_type();
PyTypeObject* function_type();

// Makes a function object for `def`, named `qualname` within the module, whose names
// resolve in `globals`. `inner`, if given, is the prototype of the function that each
// call of this one makes (see Call::make_inner).
Ref make_function(const FunctionDef& def, PyObject* qualname, PyObject* globals,
                  PyObject* inner = nullptr);

// The bare name `function` is defined with (interned), whatever its __name__ says now.
PyObject* defined_name(PyObject* function);

// The context of one call: the function, the statement reached, and the lookups and
// closures a body needs. The call is one level of native call depth deeper while it lasts.
class Call : public Frame {
public:
    explicit Call(Function* function)
        : function_(function), definition_(function->definition), line_(definition_->line), k(constants())
    {
    }

    // Statements are numbered in the order they stand, from the line after the definition
    // on: `next()` marks the next one as about to run, and a failure reports its line.
    // Each is written in the body as a `//:` comment, the equivalent Python statement,
    // right before its `next()`; build-aux/lines.py makes docs/lines.md from them.
    void next() { ++line_; }
    // Passes over statements that this call does not run (a branch not taken), or over
    // the lines of an inner function's body.
    void skip(int lines) { line_ += lines; }
    int line() const { return line_; }

    template <class Row> const Row& row() const
    {
        return *static_cast<const Row*>(definition_->row);
    }

    PyObject* globals() const { return definition_->globals; }

    // A name the body does not define: the module namespace, then the builtins.
    Ref global(const Name& name) const
    {
        if (definition_->globals == nullptr) {
            called_after_clear();
        }
        return kestrova::global(definition_->globals, definition_->builtins, name);
    }

    // `global.name` for a module-level name.
    Ref global_attr(const Name& global, const Name& name) const
    {
        Ref value = this->global(global);
        return attr(value, name);
    }

    // The current content of the i-th variable this function closes over.
    Ref free_variable(int index) const;

    // A new function from this function's inner prototype, closing over `captured`
    // (in the prototype's free-variable order).
    Ref make_inner(std::initializer_list<PyObject*> captured) const;

private:
    [[noreturn]] static void called_after_clear();

    Function* function_;
    const Function* definition_;
    int line_;

public:
    const Constants& k;
};

// Adds a traceback entry "function_name" at `line` of the module source to the
// exception being raised.
void add_traceback_entry(const char* function_name, int line, PyObject* globals) noexcept;

} // namespace kestrova
