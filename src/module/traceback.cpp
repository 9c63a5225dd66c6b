#include "traceback.hpp"

#include <frameobject.h>

#include "module_name.hpp"

namespace kestrova {

void add_traceback_entry(const char* function_name, int line, PyObject* globals) noexcept
{
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    // A fresh frame of a code object whose first line is `line` reports that line.
    PyCodeObject* code = PyCode_NewEmpty(KESTROVA_MODULE_NAME, function_name, line);
    PyObject* fallback_globals = nullptr;
    if (globals == nullptr) {
        globals = fallback_globals = PyDict_New();
    }
    PyFrameObject* frame = nullptr;
    if (code != nullptr && globals != nullptr) {
        frame = PyFrame_New(PyThreadState_Get(), code, globals, nullptr);
    }
    if (frame == nullptr) {
        PyErr_Clear(); // the entry is lost, the exception is not
    }
    PyErr_Restore(type, value, traceback);
    if (frame != nullptr) {
        PyTraceBack_Here(frame);
    }
    Py_XDECREF(frame);
    Py_XDECREF(code);
    Py_XDECREF(fallback_globals);
}

} // namespace kestrova
