#pragma once
// Interned attribute names, each made once per process on first use and kept
// for the life of the process. All return borrowed references.
#include "python_api.hpp"

namespace morvanex::binding::interned {

PyObject* name();      // "__name__"
PyObject* all();       // "__all__"
PyObject* qualname();  // "__qualname__"

}  // namespace morvanex::binding::interned
