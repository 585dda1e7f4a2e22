#pragma once
// Interned attribute names, each made once per process on first use.
//
// Ownership contract: each name is kept for the life of the process in its
// slot of process_state, whose reference is never released; callers borrow
// it. A failure to make a name is an internal failure.
#include "python_handles.hpp"

namespace morvanex::binding::interned {

PyObject* name();      // "__name__"
PyObject* all();       // "__all__"
PyObject* qualname();  // "__qualname__"

}  // namespace morvanex::binding::interned
