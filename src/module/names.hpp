// An interned name that function bodies look up, with the caches of the lookups made with it.
#pragma once

#include "fast_paths/caches.hpp"
#include "ref.hpp"

namespace kestrova {

struct Name {
    Ref object;
    mutable fast::NameCache cache; // empty where the fast paths are not built

    PyObject* get() const { return object.get(); }
    operator PyObject*() const { return object.get(); }
};

} // namespace kestrova
