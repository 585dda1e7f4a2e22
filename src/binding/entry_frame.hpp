#pragma once
// The entry frame: the one exception firewall around each entry point
// (PyInit_morvanex and every call of run_scoring_iteration).
//
// It runs a body that returns a new reference or an ErrorValue and turns
// every outcome into what CPython expects: the object, or null with exactly
// one exception set.
//   - an ErrorValue is raised as it is;
//   - an internal failure (InternalFailure) gets a failure report on standard
//     error and is raised as PanicException carrying its message; a resumed
//     panic is raised the same way without a second report;
//   - exhausted memory (std::bad_alloc) is raised as MemoryError once the
//     unwinding has released everything the body held;
//   - a failure while the frame itself is raising is fatal: a report for
//     "uncaught panic at ffi boundary" is written and the process aborts.
// No C++ exception ever leaves an entry frame.
#include "py_ref.hpp"
#include "result.hpp"

namespace morvanex::binding {

using EntryBody = Result<OwnedRef> (*)(void* context);

PyObject* run_in_entry_frame(EntryBody body, void* context) noexcept;

// Runs `body` (a callable returning Result<OwnedRef>) inside an entry frame.
template <class Body>
PyObject* entry_frame(Body& body) noexcept {
    return run_in_entry_frame(
        [](void* context) -> Result<OwnedRef> { return (*static_cast<Body*>(context))(); }, &body);
}

}  // namespace morvanex::binding
