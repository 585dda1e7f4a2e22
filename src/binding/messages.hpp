#pragma once
// Every fixed text of the module's contract, in one place: the messages of
// the exceptions it raises, the names of the environment variables they
// mention, the PanicException class, and the lines of the failure report on
// standard error. Tests compare them byte for byte, and callers may match on
// them, so a change here is a change of the module's behaviour. Messages
// built from parts are built by the functions below, which show their form.
//
// The engine cannot include this header: its own texts are named in its
// internal_failure.hpp and listed here with the rest.
//
// Ownership contract: constants are static; each function returns a new
// string owned by the caller. Nothing here touches Python.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "internal_failure.hpp"  // the engine's failure texts

namespace morvanex::binding::messages {

// The parts of a message, appended in order (which g++ 12 compiles without
// the false -Wrestrict warning that `"text" + std::string` draws at -O3).
template <class... Parts>
std::string joined(const Parts&... parts) {
    std::string text;
    (text += ... += parts);
    return text;
}

// --- environment variables ------------------------------------------------------------------------

inline constexpr const char* threads_variable = "MORVANEX_NUM_THREADS";
inline constexpr const char* backtrace_variable = "MORVANEX_BACKTRACE";

// --- argument binding: TypeError ----------------------------------------------------------------------

// "run_scoring_iteration() got an unexpected keyword argument '<key>'"
inline std::string unexpected_keyword(std::string_view key) {
    return joined("run_scoring_iteration() got an unexpected keyword argument '", key, "'");
}

// "run_scoring_iteration() takes 4 positional arguments but <given> were given"
inline std::string too_many_positional(long long given) {
    return joined("run_scoring_iteration() takes 4 positional arguments but ", std::to_string(given), " were given");
}

// "run_scoring_iteration() got multiple values for argument '<parameter>'"
inline std::string multiple_values(std::string_view parameter) {
    return joined("run_scoring_iteration() got multiple values for argument '", parameter, "'");
}

// "run_scoring_iteration() missing 1 required positional argument: 'a'", or
// with more: "... missing 2 required positional arguments: 'a' and 'b'" and
// "... missing 3 required positional arguments: 'a', 'b', and 'c'".
inline std::string missing_arguments(const char* const* names, std::size_t count) {
    std::string list;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) list += count == 2 ? " and " : (i + 1 == count ? ", and " : ", ");
        list += joined("'", names[i], "'");
    }
    if (count == 1) return joined("run_scoring_iteration() missing 1 required positional argument: ", list);
    return joined("run_scoring_iteration() missing ", std::to_string(count), " required positional arguments: ", list);
}

// --- conversions: TypeError -----------------------------------------------------------------------------

// "'<type name>' object cannot be converted to '<target>'", the target being
// one of the words below.
inline std::string cannot_convert(std::string_view type_name, std::string_view target) {
    return joined("'", type_name, "' object cannot be converted to '", target, "'");
}
inline constexpr const char* target_string = "PyString";
inline constexpr const char* target_set = "PySet";
inline constexpr const char* target_dict = "PyDict";
inline constexpr const char* target_list = "PyList";
inline constexpr const char* target_float = "PyFloat";
// morvanex_covers: a word list is a list or a tuple.
inline constexpr const char* target_word_list = "list or tuple";
// A table's candidates: a set, or a word list whose repeats count once.
inline constexpr const char* target_candidates = "set, frozenset, list or tuple";
inline constexpr const char* target_bytes = "PyBytes";
// The type name when the type's __qualname__ cannot be read as UTF-8.
inline constexpr const char* unknown_type_name = "<failed to extract type name>";

// A conversion's TypeError reworded to name its argument:
// "argument '<parameter>': <message>".
inline std::string for_argument(std::string_view parameter, std::string_view message) {
    return joined("argument '", parameter, "': ", message);
}

// --- other exceptions -------------------------------------------------------------------------------------

// ValueError: "MORVANEX_NUM_THREADS must be unset, empty, 0 (one thread per
// core) or a positive integer, not '<setting>'"
inline std::string bad_thread_count(std::string_view setting) {
    return joined(threads_variable, " must be unset, empty, 0 (one thread per core) or a positive integer, not '",
                  setting, "'");
}

// RuntimeError, in a child process forked (by a signal handler) during a
// call with several scoring threads, which the child does not have. Any
// function of either module that scores can meet it, so it names none.
inline constexpr const char* forked_during_call =
    "the call cannot finish in a process forked during it: its other scoring threads did not come along";
// ValueError of morvanex_covers.best_covers for a kind that is neither name.
inline constexpr const char* bad_kind = "kind must be 'root' or 'affix'";
// ValueError of morvanex_covers' counters.
inline constexpr const char* negative_max_length = "max_length must not be negative";
inline constexpr const char* negative_min_count = "min_count must not be negative";
// ValueError of morvanex_covers.read_scores_json.
inline constexpr const char* negative_start = "start must not be negative";

// ImportError, for a second initialisation of the module in one process.
inline constexpr const char* initialised_twice =
    "PyO3 modules compiled for CPython 3.8 or older may only be initialized once per interpreter process";

// SystemError, for a CPython call that failed without setting an exception.
inline constexpr const char* none_was_set = "attempted to fetch exception but none was set";

// --- internal failures: the message of a PanicException --------------------------------------------------

// "<context>: <diagnostic>", where a Python error ends the call; the
// contexts follow.
inline std::string failure_with_error(std::string_view context, std::string_view diagnostic) {
    return joined(context, ": ", diagnostic);
}
inline constexpr const char* set_iteration_failed = "called `Result::unwrap()` on an `Err` value";
inline constexpr const char* set_item_failed = "Failed to set_item on dict";
inline constexpr const char* add_to_set_failed = "Failed to add to set";
inline constexpr const char* append_to_all_failed = "could not append __name__ to __all__";
inline constexpr const char* panic_type_failed = "Failed to initialize new exception type.";

// The diagnostic of a Python error: "PyErr { type: <repr>, value: <repr>,
// traceback: Some(<repr>) }", an absent value or traceback reading None.
inline std::string error_diagnostic(std::string_view type, std::optional<std::string_view> value,
                                    std::optional<std::string_view> traceback) {
    return joined("PyErr { type: ", type, ", value: ", value ? *value : "None",
                  ", traceback: ", traceback ? joined("Some(", *traceback, ")") : "None", " }");
}

inline constexpr const char* dict_changed_size = "dictionary changed size during iteration";
inline constexpr const char* dict_keys_changed = "dictionary keys changed during iteration";
inline constexpr const char* api_call_failed = "Python API call failed";
inline constexpr const char* exception_not_pending = "an exception set by the module was not pending";
// A PanicException from Python code whose value has no str().
inline constexpr const char* unwrapped_panic = "Unwrapped panic from Python code";
// A C++ exception without text of its own.
inline constexpr const char* textless_failure = "panic from the module's native code";
// The engine's texts; a std::length_error reads as capacity_overflow too.
inline constexpr const char* capacity_overflow = failure_text::capacity_overflow;
inline constexpr const char* result_table_overflow = failure_text::result_table_overflow;
static_assert(std::string_view(capacity_overflow) == "capacity overflow");
static_assert(std::string_view(result_table_overflow) == "Hash table capacity overflow");

// --- text of Python objects in messages -------------------------------------------------------------

// In place of the str() of an object whose __str__ raised:
// "<unprintable <type name> object>", or this when the type has no str name.
inline std::string unprintable(std::string_view type_name) { return joined("<unprintable ", type_name, " object>"); }
inline constexpr const char* unprintable_object = "<unprintable object>";

// --- the PanicException class ---------------------------------------------------------------------------

inline constexpr const char* panic_name = "pyo3_runtime.PanicException";
inline constexpr const char* panic_doc = "\n"
                                         "The exception raised when native code called from Python panics.\n"
                                         "\n"
                                         "Like SystemExit, this exception is derived from BaseException so that\n"
                                         "it will typically propagate all the way through the stack and cause the\n"
                                         "Python interpreter to exit.\n";

// --- the failure report on standard error ---------------------------------------------------------------

// Thread label, source path, line, message and consequence; the report's
// first three lines.
inline constexpr const char* report_heading = "thread '%s' panicked at %.*s:%u:\n%.*s\nnote: %.*s\n";
inline constexpr const char* main_thread_label = "main";
inline constexpr const char* other_thread_label = "<unnamed>";
// The consequence, on the heading's "note:" line.
inline constexpr const char* raised_note = "the call is abandoned and Python receives pyo3_runtime.PanicException";
inline constexpr const char* raised_while_reporting = "raised while reporting a failure to Python";
inline constexpr const char* aborting_note = "a failure cannot cross into the interpreter; aborting the process";
// The message of the last report before the process aborts.
inline constexpr const char* uncaught_at_boundary = "uncaught panic at ffi boundary";
// The report's last line, or the heading of the native call stack that ends it.
inline constexpr const char* no_native_stack = "note: no native call stack is available on this platform\n";
inline constexpr const char* backtrace_hint =
    "note: run with the environment variable MORVANEX_BACKTRACE=1 to print the native call stack\n";
inline constexpr const char* backtrace_heading = "stack backtrace:\n";
inline constexpr const char* caught_backtrace_heading = "stack backtrace (where the failure was caught):\n";

// Written before the traceback of a PanicException that came back out of
// Python code.
inline constexpr const char* resume_banner =
    "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
    "Python stack trace below:\n";

}  // namespace morvanex::binding::messages
