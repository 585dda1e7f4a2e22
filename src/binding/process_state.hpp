#pragma once
// Everything the binding keeps beyond a call: the references that live for
// the rest of the process once made. Each of the distribution's modules links
// its own copy of the binding, so each has its own.
//
// Ownership contract: each filled slot holds one strong reference that is
// never released; callers borrow it. The interpreter lock is the slots' only
// protection. The modules use single-phase initialisation, which this state
// requires: a module is initialised once per process.
#include "python_handles.hpp"

namespace morvanex::binding {

struct ProcessState {
    PyObject* module = nullptr;           // the initialised module (module_setup)
    PyObject* panic_exception = nullptr;  // the PanicException class (panic_exception)
    struct {
        PyObject* name = nullptr;      // "__name__"
        PyObject* all = nullptr;       // "__all__"
        PyObject* qualname = nullptr;  // "__qualname__"
    } interned;                        // made on first use (interned_names)
};

extern ProcessState process_state;

}  // namespace morvanex::binding
