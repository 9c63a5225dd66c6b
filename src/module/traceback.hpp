// Traceback entries of the module source, which has no file: the interpreter shows the
// function's name and the line, and no source text.
#pragma once

#include "compat.hpp"

namespace kestrova {

// Adds a traceback entry "function_name" at `line` of the module source to the
// exception being raised.
void add_traceback_entry(const char* function_name, int line, PyObject* globals) noexcept;

} // namespace kestrova
