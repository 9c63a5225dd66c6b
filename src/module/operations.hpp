// The operations that the statements of function bodies are made of: read an attribute, set
// one, call a method, call with positional or keyword arguments, and the few operators,
// imports and the printing the bodies use. Each signals failure with PythonError, so that a
// statement is a line or two of C++.
//
// Each operation has one portable implementation on the public C API, correct on every
// interpreter the module builds for (operations.cpp): it is the meaning of the operation.
// Where this build has fast paths (fast_paths/seam.hpp) and the probe at load confirmed them,
// an operation first asks the seam, which gives the same result faster or declines; then the
// portable implementation decides.
//
// Bodies evaluate in the interpreter's order (the callable or method first, then the
// arguments left to right), one named local per step: C++ does not order the evaluation of a
// call's arguments.
#pragma once

#include <cstddef>
#include <initializer_list>

#include "equality.hpp"
#include "fast_paths/seam.hpp"
#include "names.hpp"
#include "ref.hpp"

namespace kestrova {

// One call of a module function, as far as the operations need it: one more level of native
// call depth for its duration (and, where the fast paths use it, the thread state, fetched
// once).
class CallDepth {
public:
    CallDepth() noexcept : failed_(Py_EnterRecursiveCall(" while calling a Python object") != 0) {}
    ~CallDepth()
    {
        if (!failed_) {
            Py_LeaveRecursiveCall();
        }
    }
    CallDepth(const CallDepth&) = delete;
    CallDepth& operator=(const CallDepth&) = delete;
    bool failed() const { return failed_; }
#ifdef KESTROVA_FAST_PATHS
    PyThreadState* thread() const { return thread_; }

private:
    PyThreadState* thread_ = fast::thread_state();
#else
private:
#endif
    bool failed_;
};

// The arguments of a call, `first` (if not null) then the N in `rest`, with one free slot in
// front that vectorcall lets the callee borrow (PY_VECTORCALL_ARGUMENTS_OFFSET) to prepend a
// bound object without copying; sized for them where the call is written.
template <std::size_t N>
struct ArgumentStack {
    PyObject* slots[N + 2];
    size_t count;

    ArgumentStack(PyObject* first, PyObject* const* rest) : slots{nullptr, first}, count(first != nullptr)
    {
        for (std::size_t i = 0; i < N; ++i) {
            slots[1 + count++] = rest[i];
        }
    }

    PyObject* const* arguments() const { return slots + 1; }

    // The positional count (the last len(keyword_names) arguments go by keyword), flagged so
    // that the callee may use the free slot.
    size_t positional(PyObject* keyword_names) const
    {
        const size_t keywords = keyword_names != nullptr ? static_cast<size_t>(PyTuple_GET_SIZE(keyword_names)) : 0;
        return (count - keywords) | PY_VECTORCALL_ARGUMENTS_OFFSET;
    }
};

// A call's arguments as written, `{a, b, c}`; none where none is written.
template <std::size_t N>
using Arguments = PyObject* const (&)[N];

// The portable implementations: the public C API, each the meaning of its operation.
namespace portable {

inline Ref attr(PyObject* object, const Name& name) { return checked(PyObject_GetAttr(object, name)); }

Ref optional_attr(PyObject* object, const Name& name);

inline void set_attr(PyObject* object, const Name& name, PyObject* value)
{
    checked_status(PyObject_SetAttr(object, name, value));
}

Ref global(PyObject* globals, PyObject* builtins, const Name& name);

// `object.name`, looked up for a call as the interpreter's method call looks it up: what the
// type holds and binds plainly (a function, a method descriptor) is found unbound, to be
// called with the object first (`unbound`), unless the object's own attribute hides it.
struct FoundMethod {
    Ref callable;
    bool unbound;
};
FoundMethod find_method(PyObject* object, const Name& name);

template <std::size_t N>
Ref call(PyObject* callable, const ArgumentStack<N>& stack, PyObject* keyword_names)
{
    return checked(PyObject_Vectorcall(callable, stack.arguments(), stack.positional(keyword_names), keyword_names));
}

} // namespace portable

// A name the body does not define: the module namespace `globals`, then `builtins`; a lazy
// import found there is resolved as the interpreter's own lookup resolves it.
KESTROVA_ALWAYS_INLINE Ref global(PyObject* globals, PyObject* builtins, const Name& name)
{
#ifdef KESTROVA_FAST_PATHS
    const fast::Outcome outcome = fast::global(globals, builtins, name);
    if (outcome.given) {
        return checked(outcome.value);
    }
#endif
    return portable::global(globals, builtins, name);
}

// `object.name`.
KESTROVA_ALWAYS_INLINE Ref attr(PyObject* object, const Name& name)
{
#ifdef KESTROVA_FAST_PATHS
    const fast::Outcome outcome = fast::attribute(object, name);
    if (outcome.given) {
        return checked(outcome.value);
    }
#endif
    return portable::attr(object, name);
}

// `object.name`, or an empty Ref where the object has no such attribute.
inline Ref optional_attr(PyObject* object, const Name& name) { return portable::optional_attr(object, name); }

// `object.name = value`.
KESTROVA_ALWAYS_INLINE void set_attr(PyObject* object, const Name& name, PyObject* value)
{
#ifdef KESTROVA_FAST_PATHS
    if (fast::set_attribute(object, name, value)) {
        return;
    }
#endif
    portable::set_attr(object, name, value);
}

// `callable(*stack)`, or with keywords: the last len(keyword_names) arguments are passed by the
// names in `keyword_names` (a tuple).
template <std::size_t N>
KESTROVA_ALWAYS_INLINE Ref call_stack(const CallDepth& depth, PyObject* callable, const ArgumentStack<N>& stack,
                                      PyObject* keyword_names)
{
#ifdef KESTROVA_FAST_PATHS
    return checked(
        fast::call(depth.thread(), callable, stack.arguments(), stack.positional(keyword_names), keyword_names));
#else
    (void)depth;
    return portable::call(callable, stack, keyword_names);
#endif
}

// `callable(*arguments)`, or with keywords (see call_stack).
template <std::size_t N>
KESTROVA_ALWAYS_INLINE Ref invoke(const CallDepth& depth, PyObject* callable, Arguments<N> arguments,
                                  PyObject* keyword_names = nullptr)
{
    return call_stack(depth, callable, ArgumentStack<N>(nullptr, arguments), keyword_names);
}
KESTROVA_ALWAYS_INLINE Ref invoke(const CallDepth& depth, PyObject* callable)
{
    return call_stack(depth, callable, ArgumentStack<0>(nullptr, nullptr), nullptr);
}

// The same outside a call of a module function (the load).
template <std::size_t N>
Ref invoke(PyObject* callable, Arguments<N> arguments)
{
    return portable::call(callable, ArgumentStack<N>(nullptr, arguments), nullptr);
}

// `object.name`, looked up for a call whose arguments are evaluated after it (as the
// interpreter looks a method up before it evaluates the arguments). The object must outlive
// the Method.
class Method {
public:
    KESTROVA_ALWAYS_INLINE Method(const CallDepth& depth, PyObject* object, const Name& name) : depth_(depth)
    {
#ifdef KESTROVA_FAST_PATHS
        fast::Found found;
        const int known = fast::find_method(object, name, found);
        if (known < 0) {
            throw PythonError{};
        }
        if (known > 0) {
            callable_ = Ref::steal(found.callable);
            self_ = found.unbound ? object : nullptr;
            convention_ = found.convention;
            return;
        }
#endif
        portable::FoundMethod method = portable::find_method(object, name);
        callable_ = std::move(method.callable);
        self_ = method.unbound ? object : nullptr;
    }

    template <std::size_t N>
    KESTROVA_ALWAYS_INLINE Ref operator()(Arguments<N> arguments, PyObject* keyword_names = nullptr) const
    {
        return call(ArgumentStack<N>(self_, arguments), keyword_names);
    }
    KESTROVA_ALWAYS_INLINE Ref operator()() const { return call(ArgumentStack<0>(self_, nullptr), nullptr); }

private:
    template <std::size_t N>
    KESTROVA_ALWAYS_INLINE Ref call(const ArgumentStack<N>& stack, PyObject* keyword_names) const
    {
#ifdef KESTROVA_FAST_PATHS
        if (convention_ != 0) {
            return checked(fast::call_found(depth_.thread(), {callable_, convention_, true}, stack.arguments(),
                                            stack.positional(keyword_names), keyword_names));
        }
#endif
        return call_stack(depth_, callable_, stack, keyword_names);
    }

    const CallDepth& depth_;
    Ref callable_;
    PyObject* self_ = nullptr; // the object, where callable_ is called unbound
    int convention_ = 0;       // how the fast paths call callable_ directly, unbound (0: not)
};

// `object.name(*arguments)`, for arguments already evaluated.
template <std::size_t N>
KESTROVA_ALWAYS_INLINE Ref call_method(const CallDepth& depth, PyObject* object, const Name& name,
                                       Arguments<N> arguments)
{
    return Method(depth, object, name)(arguments);
}
KESTROVA_ALWAYS_INLINE Ref call_method(const CallDepth& depth, PyObject* object, const Name& name)
{
    return Method(depth, object, name)();
}

// `a + b`, `a - b`, `a | b`.
inline Ref add(PyObject* a, PyObject* b) { return checked(PyNumber_Add(a, b)); }
inline Ref subtract(PyObject* a, PyObject* b) { return checked(PyNumber_Subtract(a, b)); }
inline Ref bitwise_or(PyObject* a, PyObject* b) { return checked(PyNumber_Or(a, b)); }

// `if a == b:`: the comparison's result, then its truth.
bool compare_equal(PyObject* a, PyObject* b);
inline bool equals(PyObject* a, PyObject* b)
{
    const int known = exact_equality(a, b);
    return known >= 0 ? known != 0 : compare_equal(a, b);
}

// `(a, b)`.
inline Ref pair(PyObject* a, PyObject* b)
{
    Ref tuple = checked(PyTuple_New(2));
    Py_INCREF(a);
    Py_INCREF(b);
    PyTuple_SET_ITEM(tuple.get(), 0, a);
    PyTuple_SET_ITEM(tuple.get(), 1, b);
    return tuple;
}

// `import name` (absolute): the top-level package, or with a from-list the module itself.
// The importer's globals are `globals`; its locals an empty dictionary.
Ref import_module(PyObject* name, PyObject* globals, PyObject* from_list);

// `import name` inside a function body (absolute): the top-level package. Like the
// interpreter for a function's import, it passes no locals and no from-list.
Ref import_in_function(PyObject* name, PyObject* globals);

// `print(text)` with the builtins' own print, fetched at its first use and kept for the
// life of the process, so that neither a module attribute nor a later replacement of
// builtins.print changes it; in a function body, or at load.
PyObject* builtin_print();
inline void print(const CallDepth& depth, PyObject* text) { invoke(depth, builtin_print(), {text}); }
inline void print(PyObject* text) { invoke(builtin_print(), {text}); }

} // namespace kestrova
