// The fast paths' facts of CPython 3.7 to 3.10: instances of classes written in Python keep
// their attributes in a dictionary at the type's tp_dictoffset; there are no instance values
// (Include/object.h, Include/cpython/object.h).
#pragma once

namespace kestrova::fast::series {

constexpr const char* name = "3.7 to 3.10";
constexpr int first_minor = 7, last_minor = 10;

// Objects/typeobject.c (assign_version_tag): the counter that version tags are taken from
// wraps around after 2^32 of them; the interpreter then marks every type's tag invalid and
// gives tags out again from the start, so that a tag may come back.
#define KESTROVA_VERSION_TAGS_WRAP 1

constexpr bool has_instance_values = false;
inline bool keeps_values(const PyTypeObject*) { return false; }
inline PyObject** readable_values(PyObject*) { return nullptr; }
inline PyObject** writable_values(PyObject*) { return nullptr; }
inline void add_to_insertion_order(PyObject**, Py_ssize_t) {}
inline Py_ssize_t shared_slot(PyTypeObject*, PyObject*) { return -1; }
inline Py_ssize_t shared_key_count(PyTypeObject*) { return -1; }
inline bool may_hold(PyTypeObject*, PyObject*) { return true; }
// Whether every key of a dictionary is an exact string: not told by the layout here (the seam
// checks the keys themselves).
inline int string_keys_only(PyObject*) { return -1; }

} // namespace kestrova::fast::series
