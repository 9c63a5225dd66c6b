/* The interpreter configuration of CPython 3.7 for 32-bit x86 Windows, as its Windows
 * build defines it, for compiling the module with MinGW-w64. The build puts it in place of
 * the installed pyconfig.h in a copy of the interpreter's include directory (Python.h
 * includes "pyconfig.h" from its own directory first), so that no other platform's
 * configuration is read. Only what the public headers consult is here; what only the
 * interpreter's own sources read is not.
 * Nothing here links a library by name (the Windows headers do that with an MSVC pragma):
 * the build links the import library for python37.dll itself. */
#ifndef KESTROVA_WINDOWS_PYCONFIG_H
#define KESTROVA_WINDOWS_PYCONFIG_H

#if !defined(_WIN32) || defined(_WIN64) || !defined(__i386__)
#error "This pyconfig.h describes CPython for 32-bit x86 Windows"
#endif
#if PY_MAJOR_VERSION != 3 || PY_MINOR_VERSION != 7
#error "This pyconfig.h describes CPython 3.7; the include path pairs it with other headers"
#endif

/* ILP32. PYLONG_BITS_IN_DIGIT stays unset: pyport.h then picks 15-bit digits on a
 * 32-bit target (the module reads no digits). */
#define SIZEOF_VOID_P 4
#define SIZEOF_SIZE_T 4
#define SIZEOF_UINTPTR_T 4
#define SIZEOF_HKEY 4

#include "pyconfig_common.h"

#endif
