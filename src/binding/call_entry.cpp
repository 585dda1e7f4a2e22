// The call entry of run_scoring_iteration: binding the arguments,
// converting them, running the engine and handing back the result dict.
//
// Ownership contract of a call: the arguments are borrowed from CPython and
// held by the bound slots for the whole call; the engine containers are owned
// by value and released before the call returns, on every path; the result
// dict is the only reference handed back.
#include "call_entry.hpp"

#include <algorithm>
#include <chrono>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "argument_binding.hpp"
#include "conversions.hpp"
#include "driver.hpp"
#include "entry_frame.hpp"
#include "error_value.hpp"
#include "interruption.hpp"
#include "kept_failure.hpp"
#include "messages.hpp"
#include "object_text.hpp"
#include "platform.hpp"
#include "python_handles.hpp"

namespace morvanex::binding {
namespace {

// How many threads may score, from MORVANEX_NUM_THREADS, read on every call:
// unset, empty or "1" is the calling thread alone; "0" is one per core; a
// positive integer is that many. Anything else is a ValueError.
Result<std::size_t> scoring_threads() {
    std::string setting = platform::environment_variable(messages::threads_variable);
    if (setting.empty()) return std::size_t{1};
    std::size_t count = 0;
    for (char digit : setting) {
        bool fits = count <= (std::numeric_limits<std::size_t>::max() - 9) / 10;
        if (digit < '0' || digit > '9' || !fits)
            return ErrorValue::with_message(PyExc_ValueError, messages::bad_thread_count(setting));
        count = count * 10 + static_cast<std::size_t>(digit - '0');
    }
    if (count == 0) count = std::max(1u, std::thread::hardware_concurrency());
    return count;
}

// Asks whether a call should stop: whether a signal handler raised (the
// default one for SIGINT raises KeyboardInterrupt). The exception it raised
// is left pending, for the call to return once the engine has stopped. With
// the interpreter lock released, the check takes the lock back for a moment,
// at most once per lock_visit_period, since another Python thread may keep
// it for up to its switch interval; once the interpreter has finished (a
// daemon thread's call outliving the program) it no longer checks. A handler
// may fork: the child has only this thread, so a call that released the
// lock for other scoring threads cannot go on there.
class SignalCheck {
public:
    static constexpr std::chrono::milliseconds lock_visit_period{20};

    // `released`: the thread state saved by PyEval_SaveThread while the lock
    // is released, or null while it is held.
    explicit SignalCheck(PyThreadState** released) : released_(released) {}

    static Interruption::Answer ask(void* check) { return static_cast<SignalCheck*>(check)->answer(); }

private:
    Interruption::Answer answer() {
        using Answer = Interruption::Answer;
        if (released_ == nullptr) return PyErr_CheckSignals() < 0 ? Answer::stop : Answer::go_on;
        auto now = std::chrono::steady_clock::now();
        if (now - last_visit_ < lock_visit_period || !Py_IsInitialized()) return Answer::go_on;
        last_visit_ = now;
        PyEval_RestoreThread(*released_);
        bool raised = PyErr_CheckSignals() < 0;
        *released_ = PyEval_SaveThread();
        if (platform::process_id() != process_) return Answer::threads_lost;
        return raised ? Answer::stop : Answer::go_on;
    }

    PyThreadState** released_;
    const long process_ = platform::process_id();
    std::chrono::steady_clock::time_point last_visit_ = std::chrono::steady_clock::now();
};

// Takes the interpreter lock back after work without it. Once the
// interpreter has finished, taking it would end this thread by unwinding it
// through frames that hold Python objects; the thread waits for the process
// to end instead, as it does on interpreters that no longer end such threads.
void take_lock_back(PyThreadState* released) {
    if (!Py_IsInitialized())
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
    PyEval_RestoreThread(released);
}

// Runs the engine; an interruption returns the exception that the signal
// handler left pending, and so do lost threads when the handler raised, else
// a RuntimeError. One thread keeps the lock throughout, as a call
// always did; several release it around the engine, and whatever the engine
// throws is kept until the lock is back.
Result<ResultTable> score(InsertedStrings roots, InsertedStrings affixes, InsertedScores scores,
                          InsertedStrings whitelist, std::size_t threads) {
    auto run = [&](Interruption& interruption) {
        return morvanex::rescore_candidates(std::move(roots), std::move(affixes), std::move(scores),
                                            std::move(whitelist), threads, interruption);
    };
    try {
        if (threads <= 1) {
            SignalCheck check(nullptr);
            Interruption interruption(&SignalCheck::ask, &check);
            return run(interruption);
        }
        PyThreadState* released = PyEval_SaveThread();
        SignalCheck check(&released);
        Interruption interruption(&SignalCheck::ask, &check);
        std::optional<ResultTable> table;
        KeptFailure failure;
        try {
            table.emplace(run(interruption));
        } catch (const platform::ThreadExitUnwinding&) {
            throw;
        } catch (...) {
            failure.keep_current();
        }
        take_lock_back(released);
        failure.rethrow_if_any();
        return std::move(*table);
    } catch (const Interrupted&) {
        return fetch_pending_error();
    } catch (const ThreadsLost&) {
        if (PyErr_Occurred() != nullptr) return fetch_pending_error();
        return ErrorValue::with_message(PyExc_RuntimeError, messages::forked_during_call);
    }
}

// Ties the conversion error of one argument to its parameter: an error of
// exactly TypeError becomes a new TypeError "argument '<parameter>': <message>"
// that keeps the original's __cause__ (None when it has none) and suppresses
// the context; any other error is returned unchanged.
ErrorValue tie_error_to_argument(std::string_view parameter, ErrorValue error) {
    // Only exactly TypeError is reworded; its subclasses pass unchanged.
    if (error.normalized_type() != PyExc_TypeError) return error;
    PyObject* original = error.normalized_value();
    if (original == nullptr) return error;

    ErrorValue reworded =
        ErrorValue::with_message(PyExc_TypeError, messages::for_argument(parameter, object_text(original)));
    // PyException_SetCause steals the cause and marks __suppress_context__,
    // also when the cause is null (then __cause__ reads None).
    OwnedRef cause = OwnedRef::steal(PyException_GetCause(original));
    PyException_SetCause(reworded.normalized_value(), cause.release());
    return reworded;
}

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

    // Read after the conversions, so that every argument error comes first.
    Result<std::size_t> threads = scoring_threads();
    if (!threads.ok()) return threads.take_error();

    Result<ResultTable> result = score(std::move(roots).value(), std::move(affixes).value(), std::move(scores).value(),
                                       std::move(whitelist).value(), threads.value());
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
const PyMethodDef run_scoring_iteration_method = {
    "run_scoring_iteration",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&run_scoring_iteration_entry)),
    METH_VARARGS | METH_KEYWORDS,
    "run_scoring_iteration(root_candidates, affix_candidates, scores, one_char_whitelist)\n--\n\n",
};

}  // namespace morvanex::binding
