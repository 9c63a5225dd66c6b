// The fast paths' facts of CPython 3.7 to 3.10: instances of classes written in Python keep
// their attributes in a dictionary at the type's tp_dictoffset, and there are no instance
// values (Include/object.h, Include/cpython/object.h); and how version tags are given out.
#pragma once

namespace kestrova::fast::series {

// Objects/typeobject.c (assign_version_tag): the counter that version tags are taken from
// wraps around after 2^32 of them; the interpreter then marks every type's tag invalid and
// gives tags out again from the start, so that a tag may come back.
#define KESTROVA_VERSION_TAGS_WRAP 1

inline bool keeps_values(const PyTypeObject*) { return false; }
inline PyObject** readable_values(PyObject*) { return nullptr; }
inline Py_ssize_t shared_key_count(PyTypeObject*) { return -1; }
inline bool may_hold(PyTypeObject*, PyObject*) { return true; }

#if KESTROVA_FAST_NATIVE_CALLS
// The levels of native call depth that a call of a method descriptor through the public calls
// takes, for a direct call of its C function: on 3.7 the generic call's and the C function
// call's own (Objects/call.c), then the descriptor's vectorcall's (Objects/descrobject.c).
constexpr int method_call_levels = PY_VERSION_HEX < 0x03080000 ? 2 : 1;
#endif

} // namespace kestrova::fast::series
