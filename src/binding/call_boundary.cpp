#include "call_boundary.hpp"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <string>
#include <thread>

#include "argument_binding.hpp"
#include "conversion.hpp"
#include "driver.hpp"
#include "entry_frame.hpp"
#include "object_text.hpp"

namespace morvanex::binding {
namespace {

constexpr const char* threads_variable = "MORVANEX_NUM_THREADS";

// How many threads may score, from MORVANEX_NUM_THREADS, read on every call:
// unset, empty or "1" is the calling thread alone; "0" is one per core; a
// positive integer is that many. Anything else is a ValueError.
Result<std::size_t> scoring_threads() {
    const char* setting = std::getenv(threads_variable);
    if (setting == nullptr || *setting == '\0') return std::size_t{1};
    std::size_t count = 0;
    for (const char* digit = setting; *digit != '\0'; ++digit) {
        bool fits = count <= (std::numeric_limits<std::size_t>::max() - 9) / 10;
        if (*digit < '0' || *digit > '9' || !fits)
            return ErrorValue::with_message(
                PyExc_ValueError, std::string(threads_variable) +
                                      " must be unset, empty, 0 (one thread per core) or a positive integer, not '" +
                                      setting + "'");
        count = count * 10 + static_cast<std::size_t>(*digit - '0');
    }
    if (count == 0) count = std::max(1u, std::thread::hardware_concurrency());
    return count;
}

// Lets other Python threads run while it lives. It is left by destruction
// only, so an exception from the work inside re-acquires the interpreter lock
// before it unwinds any further. No Python object may be touched meanwhile.
class InterpreterLockReleased {
public:
    InterpreterLockReleased() noexcept : thread_state_(PyEval_SaveThread()) {}
    ~InterpreterLockReleased() { PyEval_RestoreThread(thread_state_); }
    InterpreterLockReleased(const InterpreterLockReleased&) = delete;
    InterpreterLockReleased& operator=(const InterpreterLockReleased&) = delete;

private:
    PyThreadState* thread_state_;
};

ResultTable score(StringSet roots, StringSet affixes, ScoreTable scores, StringSet whitelist,
                  std::size_t threads) {
    if (threads == 1)
        return morvanex::run_scoring_iteration(std::move(roots), std::move(affixes), std::move(scores),
                                               std::move(whitelist));
    InterpreterLockReleased released;
    return morvanex::run_scoring_iteration(std::move(roots), std::move(affixes), std::move(scores),
                                           std::move(whitelist), threads);
}

Result<OwnedRef> call_body(PyObject* positional, PyObject* keywords) {
    Result<BoundArguments> bound = bind_arguments(positional, keywords);
    if (!bound.ok()) return bound.take_error();
    const BoundArguments& argument = bound.value();

    // Converted in parameter order; the first failure ends the call and the
    // containers built so far are released on the way out.
    Result<StringSet> roots = string_set_from_object(argument[0].get());
    if (!roots.ok()) return tie_error_to_argument(parameter_names[0], roots.take_error());
    Result<StringSet> affixes = string_set_from_object(argument[1].get());
    if (!affixes.ok()) return tie_error_to_argument(parameter_names[1], affixes.take_error());
    Result<ScoreTable> scores = score_table_from_object(argument[2].get());
    if (!scores.ok()) return tie_error_to_argument(parameter_names[2], scores.take_error());
    Result<StringSet> whitelist = string_set_from_object(argument[3].get());
    if (!whitelist.ok()) return tie_error_to_argument(parameter_names[3], whitelist.take_error());

    // Read after the conversions, so that every argument error comes first.
    Result<std::size_t> threads = scoring_threads();
    if (!threads.ok()) return threads.take_error();

    ResultTable result = score(std::move(roots).value(), std::move(affixes).value(), std::move(scores).value(),
                               std::move(whitelist).value(), threads.value());
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
