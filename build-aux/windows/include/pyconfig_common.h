/* What the Windows builds of CPython define alike for every version and target, for the
 * cross builds' pyconfig.h files, which include this after their own definitions: the
 * platform, the interpreter's DLL, a release build, the sizes that Windows fixes, and the
 * C headers of the Windows C runtime. */
#ifndef KESTROVA_WINDOWS_PYCONFIG_COMMON_H
#define KESTROVA_WINDOWS_PYCONFIG_COMMON_H

/* The platform. */
#define MS_WIN32
#define MS_WINDOWS
#define NT_THREADS
#define WITH_THREAD

/* The C API lives in the interpreter's DLL: the headers declare it __declspec(dllimport)
 * and the module's init function __declspec(dllexport). */
#define Py_ENABLE_SHARED 1
#define HAVE_DECLSPEC_DLL

/* A release interpreter: no Py_DEBUG, Py_TRACE_REFS or Py_REF_DEBUG, so the object header
 * and reference counting are those of the python.org build. */
#define WITH_PYMALLOC 1
#define WITH_DOC_STRINGS 1

/* The sizes that every Windows target shares (long stays 32 bits, also on 64-bit ones). */
#define SIZEOF_SHORT 2
#define SIZEOF_INT 4
#define SIZEOF_LONG 4
#define SIZEOF_LONG_LONG 8
#define SIZEOF_FLOAT 4
#define SIZEOF_DOUBLE 8
#define SIZEOF_TIME_T 8
#define SIZEOF_OFF_T 4
#define SIZEOF_FPOS_T 8
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
