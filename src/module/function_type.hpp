// The one native function type. Every public function, every method and every inner
// handler of the module is an instance of it, described by a row of data: a name, a
// definition line and a signature (parameters, calling form, body).
#pragma once

#include <initializer_list>
#include <iterator>

#include "constants.hpp"
#include "operations.hpp"
#include "ref.hpp"

namespace kestrova {

class Call;

// How a function takes its arguments; each form has its own argument errors.
enum class CallForm {
    parameters,   // every parameter required, by position or by keyword
    no_arguments, // nothing at all
    one_argument, // exactly one positional argument, no keywords
};

constexpr int max_parameters = 8;

// What functions of one kind share: how they take their arguments, and the names of
// their parameters and of the variables they close over.
struct Signature {
    CallForm form;
    const char* parameters[max_parameters]; // in order; unused entries are null
    const char* free_variables[3];          // names the function closes over, sorted
};

// A signature with the body that performs the statements of its functions, on the table
// row each function is made from. `arguments` holds one object per parameter, in
// parameter order. Failures are signalled with PythonError.
template <class Row>
struct SignatureOf : Signature {
    using Body = void (*)(Call& call, const Row& row, PyObject* const* arguments);

    // Signatures are constexpr, so that a list too long for its array does not compile.
    constexpr SignatureOf(CallForm form, Body body, std::initializer_list<const char*> parameters,
                          std::initializer_list<const char*> free_variables)
        : Signature{form, {}, {}}, body(body)
    {
        if (parameters.size() > max_parameters || free_variables.size() > std::size(this->free_variables)) {
            throw "too many names for a signature";
        }
        int i = 0;
        for (const char* name : parameters) {
            this->parameters[i++] = name;
        }
        i = 0;
        for (const char* name : free_variables) {
            this->free_variables[i++] = name;
        }
    }

    Body body;
};

// Runs the body of `signature` on `row`: the one place where the row, carried untyped by
// the function object, is given its type again, by the signature it was paired with.
using RunBody = void (*)(const Signature& signature, const void* row, Call& call, PyObject* const* arguments);
template <class Row>
void run_body(const Signature& signature, const void* row, Call& call, PyObject* const* arguments)
{
    static_cast<const SignatureOf<Row>&>(signature).body(call, *static_cast<const Row*>(row), arguments);
}

// One function of a table: its bare name, definition line and signature, and the row its
// body reads, of the type that body takes.
struct FunctionDef {
    template <class Row>
    FunctionDef(const char* name, int line, const SignatureOf<Row>& signature, const Row& row)
        : name(name), line(line), signature(signature), row(&row), run(run_body<Row>)
    {}

    const char* name;
    int line;
    const Signature& signature;
    const void* row; // a Row, for run
    RunBody run;
};

// What the load makes from a FunctionDef, once; a function that a call makes has its
// prototype's (see Call::make_inner).
struct Definition {
    const Signature* signature;
    const void* row;
    RunBody run;
    Py_ssize_t parameter_count; // the length of parameter_names
    PyObject* name;             // the bare name (interned), which argument errors use
    int line;                   // the definition line, where argument errors report
    PyObject* code;             // the bare name, the line, the parameters, the free variables
    PyObject* qualname;         // the qualified name it is defined with
    PyObject* parameter_names;  // tuple of interned names, in parameter order
    PyObject* globals;          // the module namespace
    PyObject* builtins;         // the builtins' namespace, fixed when the function is made
    PyObject* inner;            // the prototype of the function each call makes, or null
};

// A function object.
struct Function {
    PyObject ob_base;
#ifdef KESTROVA_HAS_VECTORCALL
    vectorcallfunc vectorcall;
#endif
    Definition defined;

    // This object's own.
    PyObject* closure; // tuple of cells, or null
    // Attributes as assigned; null until then, for the definition's own.
    PyObject* assigned_name;
    PyObject* assigned_qualname;
    PyObject* module;      // the module's name until assigned
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
Ref make_function(const FunctionDef& def, PyObject* qualname, PyObject* globals, PyObject* inner = nullptr);

// The bare name `function` is defined with (interned), whatever its __name__ says now.
PyObject* defined_name(PyObject* function);

// The context of one call: the function, the statement reached, and the lookups and
// closures a body needs. The call is one level of native call depth deeper while it lasts.
class Call : public CallDepth {
public:
    explicit Call(Function* function)
        : function_(function), definition_(&function->defined), line_(definition_->line), k(constants())
    {}

    // Statements are numbered in the order they stand, from the line after the definition
    // on: `next()` marks the next one as about to run, and a failure reports its line.
    // Each is written in the body as a `//:` comment, the equivalent Python statement,
    // right before its `next()`; build-aux/lines.py makes docs/lines.md from them.
    void next() { ++line_; }
    // Passes over statements that this call does not run (a branch not taken), or over
    // the lines of an inner function's body.
    void skip(int lines) { line_ += lines; }
    int line() const { return line_; }

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
    const Definition* definition_;
    int line_;

public:
    const Constants& k;
};

} // namespace kestrova
