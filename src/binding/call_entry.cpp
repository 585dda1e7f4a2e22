// The call entry of run_scoring_iteration: binding the arguments,
// converting them, running the engine and handing back the result dict.
//
// Ownership contract of a call: the arguments are borrowed from CPython and
// held by the bound slots for the whole call; the engine containers are owned
// by value and released before the call returns, on every path; the result
// dict is the only reference handed back.
#include "call_entry.hpp"

#include <string>
#include <string_view>

#include "argument_binding.hpp"
#include "conversions.hpp"
#include "driver.hpp"
#include "entry_frame.hpp"
#include "error_value.hpp"
#include "interpreter_lock.hpp"
#include "messages.hpp"
#include "python_handles.hpp"

namespace morvanex::binding {
namespace {

Result<OwnedRef> call_body(PyObject* positional, PyObject* keywords) {
    Result<BoundArguments> bound = bind_arguments(positional, keywords);
    if (!bound.ok()) return bound.take_error();
    const BoundArguments& argument = bound.value();

    // Converted in parameter order; the first failure ends the call and the
    // containers built so far are released on the way out.
    Result<InsertedStrings> roots = string_set_from_object(argument[0].get());
    if (!roots.ok()) return tie_error_to_argument(parameter_names[0], roots.take_error());
    Result<InsertedStrings> affixes = string_set_from_object(argument[1].get());
    if (!affixes.ok()) return tie_error_to_argument(parameter_names[1], affixes.take_error());
    Result<InsertedScores> scores = score_table_from_object(argument[2].get());
    if (!scores.ok()) return tie_error_to_argument(parameter_names[2], scores.take_error());
    Result<InsertedStrings> whitelist = string_set_from_object(argument[3].get());
    if (!whitelist.ok()) return tie_error_to_argument(parameter_names[3], whitelist.take_error());

    // The thread setting is read after the conversions, so that every
    // argument error comes first.
    Result<ResultTable> result = run_engine<ResultTable>([&](std::size_t threads, Interruption& interruption) {
        return rescore_candidates(std::move(roots).value(), std::move(affixes).value(), std::move(scores).value(),
                                  std::move(whitelist).value(), threads, interruption);
    });
    if (!result.ok()) return result.take_error();
    return dict_from_score_table(std::move(result).value());
}

// CPython calls this with the module as `self`, the positional tuple and the
// keyword dict or null. Not noexcept: see entry_frame.
PyObject* run_scoring_iteration_entry(PyObject* /*self*/, PyObject* positional, PyObject* keywords) {
    return entry_frame([&] { return call_body(positional, keywords); });
}

}  // namespace

// The doc string holds only the text-signature block, so __text_signature__
// is the parameter list and __doc__ is None.
PyMethodDef run_scoring_iteration_method = {
    "run_scoring_iteration",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&run_scoring_iteration_entry)),
    METH_VARARGS | METH_KEYWORDS,
    "run_scoring_iteration(root_candidates, affix_candidates, scores, one_char_whitelist)\n--\n\n",
};

}  // namespace morvanex::binding
