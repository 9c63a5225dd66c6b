// Which fast paths this build has: each a named switch, on for the series of interpreters
// where the measurements (README, Performance) show the speed promise needs it, and each may
// be turned off on its own (-DKESTROVA_NO_FAST_METHOD_CACHE, say, among the compiler's
// arguments). -Dfast_paths=false (KESTROVA_NO_FAST_PATHS) turns them all off, as do builds
// that cannot know the layout (the limited API, the free-threaded builds) and interpreters
// newer than the newest the facts know. A switch whose prerequisite is off is off.
#pragma once

#include "../compat.hpp"

// The newest interpreter the facts know: 3.15 (meson.build reads this line, to say when it
// builds for a newer one).
#ifndef KESTROVA_NEWEST_KNOWN_MINOR
#define KESTROVA_NEWEST_KNOWN_MINOR 15
#endif

// The series whose facts this build uses (series_*.hpp), by its first version; 0: none.
#if defined(KESTROVA_NO_FAST_PATHS) || defined(Py_LIMITED_API) || defined(Py_GIL_DISABLED) || PY_MAJOR_VERSION != 3 || \
    PY_MINOR_VERSION > KESTROVA_NEWEST_KNOWN_MINOR
#define KESTROVA_SERIES 0
#elif PY_VERSION_HEX >= 0x030D0000
#define KESTROVA_SERIES 313 // 3.13 on: instance values inside the object
#elif PY_VERSION_HEX >= 0x030B0000
#define KESTROVA_SERIES 311 // 3.11 and 3.12: instance values beside the object
#else
#define KESTROVA_SERIES 307 // 3.7 to 3.10: instance dictionaries
#endif

// NAMESPACES (3.11 on): globals, builtins and module attributes (`wx.TextCtrl`) from cache
// entries stamped with the dictionary's version (3.11), or with the stamp that a dictionary
// watcher renews (3.12 on).
#if KESTROVA_SERIES >= 311 && !defined(KESTROVA_NO_FAST_NAMESPACES)
#define KESTROVA_FAST_NAMESPACES 1
#else
#define KESTROVA_FAST_NAMESPACES 0
#endif

// INSTANCE_ATTRIBUTES (3.11 on): `self.btn` read and assigned in the slot of the instance's
// values, and non-data descriptors of the type read, through entries on its version tag.
#if KESTROVA_SERIES >= 311 && !defined(KESTROVA_NO_FAST_INSTANCE_ATTRIBUTES)
#define KESTROVA_FAST_INSTANCE_ATTRIBUTES 1
#else
#define KESTROVA_FAST_INSTANCE_ATTRIBUTES 0
#endif

// METHOD_CACHE (every series): methods found through entries on the type's version tag, and
// called unbound.
#if KESTROVA_SERIES != 0 && !defined(KESTROVA_NO_FAST_METHOD_CACHE)
#define KESTROVA_FAST_METHOD_CACHE 1
#else
#define KESTROVA_FAST_METHOD_CACHE 0
#endif

// THREAD_STATE (every series): the thread state fetched once per call of a module function,
// and results checked there; callables called through their vectorcall directly.
#if KESTROVA_SERIES != 0 && !defined(KESTROVA_NO_FAST_THREAD_STATE)
#define KESTROVA_FAST_THREAD_STATE 1
#else
#define KESTROVA_FAST_THREAD_STATE 0
#endif

// NATIVE_CALLS (3.7 to 3.10; needs METHOD_CACHE and THREAD_STATE): a native method's C
// function called directly.
#if KESTROVA_SERIES == 307 && KESTROVA_FAST_METHOD_CACHE && KESTROVA_FAST_THREAD_STATE &&                              \
    !defined(KESTROVA_NO_FAST_NATIVE_CALLS)
#define KESTROVA_FAST_NATIVE_CALLS 1
#else
#define KESTROVA_FAST_NATIVE_CALLS 0
#endif

#if KESTROVA_FAST_NAMESPACES || KESTROVA_FAST_INSTANCE_ATTRIBUTES || KESTROVA_FAST_METHOD_CACHE ||                     \
    KESTROVA_FAST_THREAD_STATE
#define KESTROVA_FAST_PATHS KESTROVA_SERIES
#endif
