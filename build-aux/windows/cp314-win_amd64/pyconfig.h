/* The interpreter configuration of CPython 3.14 for 64-bit x86 Windows, as its Windows
 * build defines it, for compiling the module with MinGW-w64. The build puts it in place of
 * the installed pyconfig.h in a copy of the interpreter's include directory (Python.h
 * includes "pyconfig.h" from its own directory first), so that no other platform's
 * configuration is read. Only what the public headers consult is here; what only the
 * interpreter's own sources read is not.
 * Nothing here links a library by name (the Windows headers do that with an MSVC pragma):
 * the build links the import library for python314.dll itself.
 *
 * Of what configure sets, the public headers of 3.14 consult two things that those of 3.13
 * do not, both left to their defaults as on Windows: WORDS_BIGENDIAN stays unset (a
 * little-endian target: object.h puts the 32-bit reference count in the low half of the
 * object header's first word) and _Py_STACK_GROWS_DOWN stays pyport.h's 1. */
#ifndef KESTROVA_WINDOWS_PYCONFIG_H
#define KESTROVA_WINDOWS_PYCONFIG_H

#if !defined(_WIN64) || !defined(__x86_64__)
#error "This pyconfig.h describes CPython for 64-bit x86 Windows"
#endif
#if PY_MAJOR_VERSION != 3 || PY_MINOR_VERSION != 14
#error "This pyconfig.h describes CPython 3.14; the include path pairs it with other headers"
#endif

#define MS_WIN64

/* With the global interpreter lock: no Py_GIL_DISABLED, as in python314.dll (not the
 * free-threaded python314t.dll, which the module is not built for). */

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
