#include "call_boundary.hpp"

#include <string>

#include "argument_binding.hpp"
#include "conversion.hpp"
#include "driver.hpp"
#include "entry_frame.hpp"
#include "object_text.hpp"

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

    ResultTable result = morvanex::run_scoring_iteration(
        std::move(roots).value(), std::move(affixes).value(), std::move(scores).value(),
        std::move(whitelist).value());
    return dict_from_score_table(std::move(result));
}

}  // namespace

ErrorValue tie_error_to_argument(std::string_view parameter, ErrorValue error) {
    // Only exactly TypeError is reworded; its subclasses pass unchanged.
    if (error.normalized_type() != PyExc_TypeError) return error;
    PyObject* original = error.normalized_value();
    if (original == nullptr) return error;

    std::string message = "argument '";
    message += parameter;
    message += "': ";
    message += object_text(original);
    ErrorValue reworded = ErrorValue::with_message(PyExc_TypeError, std::move(message));
    // PyException_SetCause steals the cause and marks __suppress_context__,
    // also when the cause is null (then __cause__ reads None).
    OwnedRef cause = OwnedRef::steal(PyException_GetCause(original));
    PyException_SetCause(reworded.normalized_value(), cause.release());
    return reworded;
}

PyObject* run_scoring_iteration_entry(PyObject* /*self*/, PyObject* positional,
                                      PyObject* keywords) noexcept {
    auto body = [positional, keywords]() { return call_body(positional, keywords); };
    return entry_frame(body);
}

}  // namespace morvanex::binding
