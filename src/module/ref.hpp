// Owned references and the error signal used by every function body.
#pragma once

#include "compat.hpp"

namespace kestrova {

// Thrown after a C API call has failed and left its exception set. The entry point of
// the native function (or of the load) catches it, adds its traceback entry and returns
// the failure to the interpreter; the exception object itself is never touched.
struct PythonError {};

// An owned (strong) reference. Moving transfers ownership; the destructor releases it,
// so every early exit of a body releases what the body holds.
class Ref {
public:
    Ref() = default;
    static Ref steal(PyObject* object) { return Ref(object); }
    static Ref share(PyObject* object)
    {
        Py_XINCREF(object);
        return Ref(object);
    }

    Ref(Ref&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
    Ref& operator=(Ref&& other) noexcept
    {
        PyObject* old = object_;
        object_ = other.object_;
        other.object_ = nullptr;
        Py_XDECREF(old);
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(object_); }

    PyObject* get() const { return object_; }
    PyObject* release()
    {
        PyObject* object = object_;
        object_ = nullptr;
        return object;
    }
    explicit operator bool() const { return object_ != nullptr; }

    // A named Ref lends its object; a temporary may not, so that no raw pointer can
    // outlive the reference it came from.
    operator PyObject*() const& { return object_; }
    operator PyObject*() const&& = delete;

private:
    explicit Ref(PyObject* object) : object_(object) {}
    PyObject* object_ = nullptr;
};

// Takes ownership of a new reference returned by the C API, or signals its failure.
inline Ref checked(PyObject* result)
{
    if (result == nullptr) {
        throw PythonError{};
    }
    return Ref::steal(result);
}

// Signals the failure of a C API call that reports it with a negative status.
inline int checked_status(int status)
{
    if (status < 0) {
        throw PythonError{};
    }
    return status;
}

// Turns the C++ exception being handled into the interpreter's error: a PythonError leaves
// its exception set, a failed allocation raises MemoryError, and anything else SystemError
// (unless an exception is set already). Only for a catch (...) block.
void set_error_from_exception() noexcept;

// Runs `body`, the C++ of an entry point from the interpreter, and tells whether it
// succeeded: nothing it throws unwinds through the interpreter's frames.
template <class Body>
bool guarded(Body&& body) noexcept
{
    try {
        body();
        return true;
    } catch (...) {
        set_error_from_exception();
        return false;
    }
}

} // namespace kestrova
