#pragma once
// The call entry of run_scoring_iteration, as the method definition from
// which module initialisation makes the function object.
//
// Ownership contract: the definition lives for the whole process and is
// never changed; a function object made from it refers to it for as long as
// that object lives.
#include "python_handles.hpp"

namespace morvanex::binding {

// Name "run_scoring_iteration", flags METH_VARARGS | METH_KEYWORDS, and a doc
// string holding the text signature alone.
extern PyMethodDef run_scoring_iteration_method;

}  // namespace morvanex::binding
