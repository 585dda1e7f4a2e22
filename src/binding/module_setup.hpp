#pragma once
// What the initialisation of each of the distribution's modules does alike:
// its exported init function, its functions listed in __all__, __version__.
//
// Each module uses single-phase initialisation and keeps process-wide state
// (process_state), so it is initialised once per process; every later
// attempt, for instance from another interpreter, fails with ImportError.
#include <initializer_list>

#include "error_value.hpp"
#include "python_handles.hpp"

// A module's init function, exported whatever the build's default
// visibility. CPython 3.8's headers define PyMODINIT_FUNC without a visibility
// attribute (3.9 added one), so a hidden-visibility build made with them would
// export nothing and fail to import everywhere.
#if defined(_WIN32)
#define MORVANEX_MODULE_INIT PyMODINIT_FUNC
#else
#define MORVANEX_MODULE_INIT extern "C" __attribute__((visibility("default"))) PyObject*
#endif

namespace morvanex::binding {

// The definition of a module that keeps no per-module state and uses
// single-phase initialisation; initialise_module adds its functions.
inline PyModuleDef single_phase_definition(const char* name, const char* doc) {
    return {PyModuleDef_HEAD_INIT, name, doc, 0, nullptr, nullptr, nullptr, nullptr, nullptr};
}

// Makes a new type object for a module.
using TypeMaker = Result<OwnedRef> (*)();

// Makes the module of `definition` with the functions of `functions` and
// then the types that `types` make, in that order, and __version__, and
// keeps it in process_state.
Result<OwnedRef> initialise_module(PyModuleDef& definition, std::initializer_list<PyMethodDef*> functions,
                                   std::initializer_list<TypeMaker> types = {});

// Adds the function that `definition` describes to `module` (borrowed) and
// lists it in __all__. The function object refers to `definition` for as
// long as it lives, so the definition must live for the whole process.
Result<Done> add_function(PyObject* module, PyMethodDef& definition);

// The package version from the build, so that it cannot differ from the
// installed metadata.
Result<Done> add_version(PyObject* module);

}  // namespace morvanex::binding
