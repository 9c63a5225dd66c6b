/* The interpreter configuration of CPython 3.13 for 64-bit x86 Windows, as its Windows
 * build defines it, for compiling the module with MinGW-w64. The build puts it in place of
 * the installed pyconfig.h in a copy of the interpreter's include directory (Python.h
 * includes "pyconfig.h" from its own directory first), so that no other platform's
 * configuration is read. Only what the public headers consult is here; what only the
 * interpreter's own sources read is not.
 * Nothing here links a library by name (the Windows headers do that with an MSVC pragma):
 * the build links the import library for python313.dll itself. */
#ifndef KESTROVA_WINDOWS_PYCONFIG_H
#define KESTROVA_WINDOWS_PYCONFIG_H

#if !defined(_WIN64) || !defined(__x86_64__)
#error "This pyconfig.h describes CPython for 64-bit x86 Windows"
#endif
#if PY_MAJOR_VERSION != 3 || PY_MINOR_VERSION != 13
#error "This pyconfig.h describes CPython 3.13; the include path pairs it with other headers"
#endif

#define MS_WIN64

/* With the global interpreter lock: no Py_GIL_DISABLED, as in python313.dll (not the
 * free-threaded python313t.dll). */

/* The Windows build carries mimalloc beside pymalloc (PYTHONMALLOC=mimalloc). */
#define WITH_MIMALLOC 1

/* LLP64: long stays 32 bits, pointers and sizes are 64. */
#define SIZEOF_VOID_P 8
#define SIZEOF_SIZE_T 8
#define SIZEOF_UINTPTR_T 8
#define SIZEOF_HKEY 8
/* The alignment of max_align_t with MSVC, which the interpreter's allocators honour. */
#define ALIGNOF_MAX_ALIGN_T 8

#include "pyconfig_common.h"

#endif
