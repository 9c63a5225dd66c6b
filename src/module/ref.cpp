#include "ref.hpp"

#include <new>

#include "module_name.hpp"

namespace kestrova {

void set_error_from_exception() noexcept
{
    try {
        throw;
    } catch (const PythonError&) {
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (...) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_SystemError, "unexpected C++ exception in " KESTROVA_MODULE_NAME);
        }
    }
}

} // namespace kestrova
