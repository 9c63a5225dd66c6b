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

/* The platform. */
#define MS_WIN32
#define MS_WINDOWS
#define NT_THREADS
#define WITH_THREAD

/* The C API lives in python37.dll: the headers declare it __declspec(dllimport) and the
 * module's init function __declspec(dllexport). */
#define Py_ENABLE_SHARED 1
#define HAVE_DECLSPEC_DLL

/* A release interpreter: no Py_DEBUG, Py_TRACE_REFS or Py_REF_DEBUG, so the object header
 * and reference counting are those of the python.org build. */
#define WITH_PYMALLOC 1
#define WITH_DOC_STRINGS 1

/* ILP32. PYLONG_BITS_IN_DIGIT stays unset: pyport.h then picks 15-bit digits on a
 * 32-bit target (the module reads no digits). */
#define SIZEOF_SHORT 2
#define SIZEOF_INT 4
#define SIZEOF_LONG 4
#define SIZEOF_LONG_LONG 8
#define SIZEOF_FLOAT 4
#define SIZEOF_DOUBLE 8
#define SIZEOF_VOID_P 4
#define SIZEOF_SIZE_T 4
#define SIZEOF_UINTPTR_T 4
#define SIZEOF_TIME_T 8
#define SIZEOF_OFF_T 4
#define SIZEOF_FPOS_T 8
#define SIZEOF_HKEY 4
#define SIZEOF_WCHAR_T 2
#define SIZEOF__BOOL 1
#define DOUBLE_IS_LITTLE_ENDIAN_IEEE754 1

/* wchar_t is UTF-16 and doubles as Py_UNICODE. */
#define HAVE_WCHAR_H 1
#define HAVE_USABLE_WCHAR_T 1

/* C headers that the Windows C runtime has. */
#define HAVE_ERRNO_H 1
#define HAVE_STDDEF_H 1
#define HAVE_SYS_STAT_H 1
#define HAVE_SYS_TYPES_H 1
#define HAVE_IO_H 1
#define HAVE_PROCESS_H 1
#define HAVE_SIGNAL_H 1
#define HAVE_FCNTL_H 1
#define HAVE_DIRECT_H 1

#include "pyconfig_check.h"

#endif
