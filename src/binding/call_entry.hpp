#pragma once
// The call entry of run_scoring_iteration, as the method definition from
// which module initialisation makes the function object.
//
// Ownership contract: the definition is constant and lives for the whole
// process; a function object made from it refers to it (or to a copy of it
// that lives as long) for as long as that object lives.
#include "python_handles.hpp"

namespace morvanex::binding {

// Name "run_scoring_iteration", flags METH_VARARGS | METH_KEYWORDS, and a doc
// string holding the text signature alone.
extern const PyMethodDef run_scoring_iteration_method;

}  // namespace morvanex::binding
