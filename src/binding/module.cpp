// Module initialisation (PyInit_morvanex, the module's only exported symbol)
// and the call entry of run_scoring_iteration.
//
// The module uses single-phase initialisation and keeps process-wide state
// (the module slot, the PanicException type, the interned names), so it is
// initialised once per process; every later attempt, for instance from
// another interpreter, fails with ImportError.
//
// Ownership contract of a call: the arguments are borrowed from CPython and
// held by the bound slots for the whole call; the engine containers are owned
// by value and released before the call returns, on every path; the result
// dict is the only reference handed back.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "argument_binding.hpp"
#include "conversions.hpp"
#include "driver.hpp"
#include "binding_failure.hpp"
#include "entry_frame.hpp"
#include "error_value.hpp"
#include "interned_names.hpp"
#include "interruption.hpp"
#include "kept_failure.hpp"
#include "object_text.hpp"
#include "platform.hpp"
#include "python_handles.hpp"

// The module's init function, exported whatever the build's default
// visibility. CPython 3.8's headers define PyMODINIT_FUNC without a visibility
// attribute (3.9 added one), so a hidden-visibility build made with them would
// export nothing and fail to import everywhere.
#if defined(_WIN32)
#define MORVANEX_MODULE_INIT PyMODINIT_FUNC
#else
#define MORVANEX_MODULE_INIT extern "C" __attribute__((visibility("default"))) PyObject*
#endif

namespace morvanex::binding {
namespace {

// --- the call entry -----------------------------------------------------------------------

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
            return ErrorValue::with_message(PyExc_ValueError,
                                            std::string(threads_variable) +
                                                " must be unset, empty, 0 (one thread per core) or a positive "
                                                "integer, not '" +
                                                setting + "'");
        count = count * 10 + static_cast<std::size_t>(*digit - '0');
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
// daemon thread's call outliving the program) it no longer checks.
class SignalCheck {
public:
    static constexpr std::chrono::milliseconds lock_visit_period{20};

    // `released`: the thread state saved by PyEval_SaveThread while the lock
    // is released, or null while it is held.
    explicit SignalCheck(PyThreadState** released) : released_(released) {}

    static bool ask(void* check) { return static_cast<SignalCheck*>(check)->signal_raised(); }

private:
    bool signal_raised() {
        if (released_ == nullptr) return PyErr_CheckSignals() < 0;
        auto now = std::chrono::steady_clock::now();
        if (now - last_visit_ < lock_visit_period || !Py_IsInitialized()) return false;
        last_visit_ = now;
        PyEval_RestoreThread(*released_);
        bool raised = PyErr_CheckSignals() < 0;
        *released_ = PyEval_SaveThread();
        return raised;
    }

    PyThreadState** released_;
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
// handler left pending. One thread keeps the lock throughout, as a call
// always did; several release it around the engine, and whatever the engine
// throws is kept until the lock is back.
Result<ResultTable> score(InsertedStrings roots, InsertedStrings affixes, InsertedScores scores,
                          InsertedStrings whitelist, std::size_t threads) {
    auto run = [&](Interruption& interruption) {
        return morvanex::run_scoring_iteration(std::move(roots), std::move(affixes), std::move(scores),
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

    Result<ResultTable> result = score(std::move(roots).value(), std::move(affixes).value(),
                                       std::move(scores).value(), std::move(whitelist).value(), threads.value());
    if (!result.ok()) return result.take_error();
    return dict_from_score_table(std::move(result).value());
}

// CPython calls this with the module as `self`, the positional tuple and the
// keyword dict or null. Not noexcept: see entry_frame.
PyObject* run_scoring_iteration_entry(PyObject* /*self*/, PyObject* positional, PyObject* keywords) {
    return entry_frame([&] { return call_body(positional, keywords); });
}

// --- module initialisation ---------------------------------------------------------------

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "morvanex",  // m_name
    "",          // m_doc: __doc__ is the empty string, not None
    0,           // m_size: no per-module state
    nullptr,     // m_methods: the function is added by the initialiser
    nullptr,     // m_slots: single-phase initialisation
    nullptr,     // m_traverse
    nullptr,     // m_clear
    nullptr,     // m_free
};

// The initialised module, holding one strong reference for the rest of the
// process once filled. Guarded by the interpreter lock.
PyObject* module_slot = nullptr;

// The doc string holds only the text-signature block, so __text_signature__
// is the parameter list and __doc__ is None.
const PyMethodDef function_template = {
    "run_scoring_iteration",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&run_scoring_iteration_entry)),
    METH_VARARGS | METH_KEYWORDS,
    "run_scoring_iteration(root_candidates, affix_candidates, scores, one_char_whitelist)\n--\n\n",
};

// Adds run_scoring_iteration to `module` (borrowed) and lists it in __all__.
Result<Done> add_function(PyObject* module) {
    // The function object refers to its method definition for as long as it
    // lives, which is the life of the process, so the heap copy is made once
    // and never freed. This static pointer keeps it reachable for leak
    // checkers after the interpreter has released the function object at exit.
    static PyMethodDef* const method_definition = new PyMethodDef(function_template);

    OwnedRef module_name = OwnedRef::steal(PyModule_GetNameObject(module));
    if (!module_name) return fetch_pending_error();
    OwnedRef function = OwnedRef::steal(PyCFunction_NewEx(method_definition, module, module_name.get()));
    module_name.reset();
    if (!function) return fetch_pending_error();

    OwnedRef function_name = OwnedRef::steal(PyObject_GetAttr(function.get(), interned::name()));
    if (!function_name) return fetch_pending_error();
    if (!is_str(function_name.get())) return type_mismatch_error(function_name.get(), "PyString");

    OwnedRef all = OwnedRef::steal(PyObject_GetAttr(module, interned::all()));
    if (!all) {
        ErrorValue error = fetch_pending_error();
        if (!error.matches(PyExc_AttributeError)) return error;
        all = expect_created(PyList_New(0));
        if (PyObject_SetAttr(module, interned::all(), all.get()) < 0) return fetch_pending_error();
    } else if (!is_list(all.get())) {
        return type_mismatch_error(all.get(), "PyList");
    }

    if (PyList_Append(all.get(), function_name.get()) < 0)
        fail_with_error("could not append __name__ to __all__", fetch_pending_error());
    if (PyObject_SetAttr(module, function_name.get(), function.get()) < 0) return fetch_pending_error();
    return Done{};
}

// The package version from the build, so that it cannot differ from the installed metadata.
Result<Done> add_version(PyObject* module) {
    if (PyModule_AddStringConstant(module, "__version__", MORVANEX_VERSION) < 0) return fetch_pending_error();
    return Done{};
}

Result<OwnedRef> initialise_module() {
    if (module_slot != nullptr)
        return ErrorValue::with_message(PyExc_ImportError,
                                        "PyO3 modules compiled for CPython 3.8 or older may only be initialized "
                                        "once per interpreter process");

    OwnedRef module = OwnedRef::steal(PyModule_Create2(&module_definition, PYTHON_ABI_VERSION));
    if (!module) return fetch_pending_error();
    Result<Done> added = add_function(module.get());
    if (!added.ok()) return added.take_error();  // the new module is released
    Result<Done> versioned = add_version(module.get());
    if (!versioned.ok()) return versioned.take_error();

    // Python code run above could have initialised the module meanwhile; the
    // module stored first wins.
    if (module_slot == nullptr) module_slot = module.release();
    return OwnedRef::borrow(module_slot);
}

}  // namespace
}  // namespace morvanex::binding

MORVANEX_MODULE_INIT PyInit_morvanex() {
    return morvanex::binding::entry_frame([] { return morvanex::binding::initialise_module(); });
}
