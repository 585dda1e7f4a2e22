#include "errors.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>

#include "exception_state.hpp"

namespace morvanex::binding {
namespace {

// The PanicException class, created on first need and kept for the life of
// the process (borrowed). A failure to create it is an internal failure.
PyObject* panic_exception_type();

// The characters of `text`, a str or a str subclass, as object_text renders
// them, without calling its __str__.
std::string str_text(PyObject* text);

// "PyErr { type: <repr>, value: <repr>, traceback: None | Some(<repr>) }",
// each repr rendered as object_text renders a str().
std::string diagnostic_text(ErrorValue& error);

// `bytes` decoded as UTF-8 with each maximal invalid subsequence replaced by
// U+FFFD; valid input comes back unchanged.
std::string utf8_lossy(std::string_view bytes);

// --- making the value of a lazy error -----------------------------------------------

// Making the value of a lazy error fails only when the interpreter is out of
// memory, which expect_created turns into exhausted memory (raised as
// MemoryError), not into an internal failure, which would be fatal while the
// entry frame is raising the error.
OwnedRef str_from_message(const std::string& message) {
    // Messages may quote text from outside the module; make sure the bytes
    // handed to the interpreter are UTF-8.
    std::string text = utf8_lossy(message);
    return expect_created(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

// --- resumed panics ---------------------------------------------------------------------

[[noreturn]] void resume_panic(ErrorIndicator panic) {
    std::string message = "Unwrapped panic from Python code";
    if (panic.value) {
        // The characters of one str() of the value, taken as they are.
        OwnedRef text = OwnedRef::steal(PyObject_Str(panic.value.get()));
        if (text)
            message = str_text(text.get());
        else
            ignore_error(ErrorValue::fetched(take_error_indicator()));
    }
    std::fputs("--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
               "Python stack trace below:\n",
               stderr);
    std::fflush(stderr);
    PyErr_Restore(panic.type.release(), panic.value.release(), panic.traceback.release());
    PyErr_PrintEx(0);
    throw ResumedPanic(std::move(message));
}

// With the exception of a failed CPython call pending: unwinds as exhausted
// memory when it is a MemoryError.
void unwind_if_out_of_memory() {
    if (PyErr_ExceptionMatches(PyExc_MemoryError)) {
        (void)take_error_indicator();
        throw std::bad_alloc();
    }
}

// --- text of Python objects ----------------------------------------------------------------

constexpr std::string_view replacement = "\xEF\xBF\xBD";  // U+FFFD

std::string render(PyObject* object, PyObject* (*to_str)(PyObject*)) {
    OwnedRef text = OwnedRef::steal(to_str(object));
    if (text) return str_text(text.get());

    // The exception from str()/repr() is still pending: report it as
    // unraisable, then name the object by its type. Out of memory, no text is
    // worth more than the call.
    unwind_if_out_of_memory();
    PyErr_WriteUnraisable(object);
    OwnedRef name = OwnedRef::steal(
        PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(object)), interned::name()));
    if (!name) {
        ignore_error(fetch_pending_error());
        return "<unprintable object>";
    }
    if (!is_str(name.get())) return "<unprintable object>";
    return "<unprintable " + object_text(name.get()) + " object>";
}

// Length of the well-formed UTF-8 sequence at the start of `rest`, or of the
// maximal subpart of an ill-formed one (as a negative number, at least 1).
long sequence_length(std::string_view rest) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(rest[i]); };
    unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    long needed;
    unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        needed = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        needed = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        needed = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return -1;
    }
    for (long i = 1; i < needed; ++i) {
        if (static_cast<std::size_t>(i) >= rest.size()) return -i;
        unsigned char next = byte(static_cast<std::size_t>(i));
        unsigned char lo = i == 1 ? low : 0x80;
        unsigned char hi = i == 1 ? high : 0xBF;
        if (next < lo || next > hi) return -i;
    }
    return needed;
}

// --- failure reports -----------------------------------------------------------------------

constexpr const char* raised_note = "the call is abandoned and Python receives pyo3_runtime.PanicException";

// Used when a failure carries no text of its own.
constexpr const char* textless_failure = "panic from the module's native code";

// Source paths as the compiler saw them may be absolute build paths; the
// report shows them from the project's src/ directory on, which is where the
// file lives in the repository.
std::string_view source_path(const char* file_name) noexcept {
    std::string_view path(file_name);
    std::size_t at = path.rfind("/src/");
    if (at != std::string_view::npos) return path.substr(at + 1);
    return path;
}

bool backtrace_requested() noexcept {
    const char* setting = std::getenv("MORVANEX_BACKTRACE");
    return setting != nullptr && *setting != '\0' && std::strcmp(setting, "0") != 0;
}

// Writes the failure report for `message` raised at `where` to standard error:
// thread, position and message, a note saying `consequence`, and how to get
// the native call stack. With MORVANEX_BACKTRACE set (not "0") the report
// ends with `stack`, or with the stack of the caller when `stack` is null or
// empty.
void write_failure_report(std::string_view message, const std::source_location& where,
                          std::string_view consequence, const platform::NativeStack* stack = nullptr) noexcept {
    std::string_view path = source_path(where.file_name());
    std::fprintf(stderr, "thread '%s' panicked at %.*s:%u:\n%.*s\nnote: %.*s\n", platform::thread_label(),
                 static_cast<int>(path.size()), path.data(), static_cast<unsigned>(where.line()),
                 static_cast<int>(message.size()), message.data(), static_cast<int>(consequence.size()),
                 consequence.data());
    if (!platform::native_stack_available()) {
        std::fputs("note: no native call stack is available on this platform\n", stderr);
    } else if (!backtrace_requested()) {
        std::fputs("note: run with the environment variable MORVANEX_BACKTRACE=1 to print the native call stack\n",
                   stderr);
    } else if (stack != nullptr && stack->depth > 0) {
        std::fputs("stack backtrace:\n", stderr);
        std::fflush(stderr);
        platform::write_native_stack(*stack);
    } else {
        std::fputs("stack backtrace (where the failure was caught):\n", stderr);
        std::fflush(stderr);
        platform::write_native_stack(platform::capture_native_stack());
    }
    std::fflush(stderr);
}

// --- the entry frame --------------------------------------------------------------------

ErrorValue reported_panic(std::string message, const std::source_location& where,
                          const platform::NativeStack* stack = nullptr) {
    write_failure_report(message, where, raised_note, stack);
    return ErrorValue::panic(std::move(message));
}

// A failure escaped while the frame was raising: nothing can be handed to
// Python any more.
[[noreturn]] void abort_at_ffi_boundary() noexcept {
    try {
        throw;
    } catch (const InternalFailure& failure) {
        write_failure_report(failure.message(), failure.where(), "raised while reporting a failure to Python");
    } catch (...) {
    }
    write_failure_report("uncaught panic at ffi boundary", std::source_location::current(),
                         "a failure cannot cross into the interpreter; aborting the process");
    std::abort();
}

// --- PanicException ------------------------------------------------------------------------

constexpr const char* panic_name = "pyo3_runtime.PanicException";
constexpr const char* panic_doc =
    "\n"
    "The exception raised when native code called from Python panics.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

// One strong reference for the rest of the process; guarded by the
// interpreter lock.
PyObject* panic_slot = nullptr;

}  // namespace

// --- ErrorValue ----------------------------------------------------------------------------

ErrorValue ErrorValue::with_message(PyObject* exception_type, std::string message) {
    return ErrorValue(Lazy{OwnedRef::borrow(exception_type), std::move(message)});
}

ErrorValue ErrorValue::panic(std::string message) { return ErrorValue(Lazy{OwnedRef(), std::move(message)}); }

ErrorValue ErrorValue::none_was_set() {
    return with_message(PyExc_SystemError, "attempted to fetch exception but none was set");
}

ErrorValue ErrorValue::fetched(ErrorIndicator indicator) {
    return ErrorValue(Triple{std::move(indicator.type), std::move(indicator.value),
                             std::move(indicator.traceback), false});
}

ErrorValue::Triple& ErrorValue::normalized_triple() {
    if (auto* lazy = std::get_if<Lazy>(&state_)) {
        // Build the value now, let the interpreter instantiate the exception,
        // and take it back in normalised form.
        OwnedRef type;
        OwnedRef value;
        if (lazy->type) {
            type = lazy->type.share();
            value = str_from_message(lazy->message);
        } else {
            type = OwnedRef::borrow(panic_exception_type());
            OwnedRef text = str_from_message(lazy->message);
            value = expect_created(PyTuple_New(1));
            PyTuple_SetItem(value.get(), 0, text.release());  // steals
        }
        PyErr_SetObject(type.get(), value.get());
        ErrorIndicator raised = take_error_indicator();
        if (!raised.type) fail("an exception set by the module was not pending");
        state_ = Triple{std::move(raised.type), std::move(raised.value), std::move(raised.traceback), false};
    }
    Triple& triple = std::get<Triple>(state_);
    if (!triple.normalized) {
        PyObject* type = triple.type.release();
        PyObject* value = triple.value.release();
        PyObject* traceback = triple.traceback.release();
        PyErr_NormalizeException(&type, &value, &traceback);
        triple.type = OwnedRef::steal(type);
        triple.value = OwnedRef::steal(value);
        triple.traceback = OwnedRef::steal(traceback);
        triple.normalized = true;
    }
    return triple;
}

PyObject* ErrorValue::normalized_type() { return normalized_triple().type.get(); }
PyObject* ErrorValue::normalized_value() { return normalized_triple().value.get(); }
PyObject* ErrorValue::normalized_traceback() { return normalized_triple().traceback.get(); }

bool ErrorValue::matches(PyObject* exception_class) const {
    PyObject* type = nullptr;
    if (const auto* lazy = std::get_if<Lazy>(&state_))
        type = lazy->type ? lazy->type.get() : panic_exception_type();
    else
        type = std::get<Triple>(state_).type.get();
    return PyErr_GivenExceptionMatches(type, exception_class) != 0;
}

void ErrorValue::raise() && {
    // A fetched error goes back as it came; only a lazy one is built now.
    if (std::holds_alternative<Lazy>(state_)) (void)normalized_triple();
    Triple& triple = std::get<Triple>(state_);
    PyErr_Restore(triple.type.release(), triple.value.release(), triple.traceback.release());
}

// --- the error indicator --------------------------------------------------------------------

ErrorIndicator take_error_indicator() noexcept {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    return ErrorIndicator{OwnedRef::steal(type), OwnedRef::steal(value), OwnedRef::steal(traceback)};
}

ErrorValue fetch_pending_error() {
    ErrorIndicator pending = take_error_indicator();
    if (!pending.type) return ErrorValue::none_was_set();
    if (pending.type.get() == panic_exception_type()) resume_panic(std::move(pending));
    return ErrorValue::fetched(std::move(pending));
}

void ignore_error(ErrorValue error) {
    if (error.matches(PyExc_MemoryError)) throw std::bad_alloc();
}

// --- internal failures ----------------------------------------------------------------------

BindingFailure::BindingFailure(std::string message, std::source_location where)
    : InternalFailure(std::move(message), where) {
    if (backtrace_requested()) stack_ = platform::capture_native_stack();
}

void fail(std::string message, std::source_location where) { throw BindingFailure(std::move(message), where); }

void fail_with_error(std::string_view context, ErrorValue error, std::source_location where) {
    if (error.matches(PyExc_MemoryError)) throw std::bad_alloc();
    std::string message(context);
    message += ": ";
    message += diagnostic_text(error);
    fail(std::move(message), where);
}

OwnedRef expect_created(PyObject* created, std::source_location where) {
    if (created == nullptr) {
        unwind_if_out_of_memory();
        PyErr_Print();
        fail("Python API call failed", where);
    }
    return OwnedRef::steal(created);
}

// --- text of Python objects -----------------------------------------------------------------

std::string object_text(PyObject* object) { return render(object, PyObject_Str); }

namespace {

std::string str_text(PyObject* text) {
    OwnedRef bytes = expect_created(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
    const char* data = PyBytes_AsString(bytes.get());
    Py_ssize_t size = PyBytes_Size(bytes.get());
    return utf8_lossy(std::string_view(data, static_cast<std::size_t>(size)));
}

std::string diagnostic_text(ErrorValue& error) {
    std::string text = "PyErr { type: ";
    text += render(error.normalized_type(), PyObject_Repr);
    text += ", value: ";
    PyObject* value = error.normalized_value();
    text += value ? render(value, PyObject_Repr) : std::string("None");
    text += ", traceback: ";
    if (PyObject* traceback = error.normalized_traceback()) {
        text += "Some(";
        text += render(traceback, PyObject_Repr);
        text += ")";
    } else {
        text += "None";
    }
    text += " }";
    return text;
}

std::string utf8_lossy(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        long length = sequence_length(bytes);
        if (length > 0) {
            out.append(bytes.substr(0, static_cast<std::size_t>(length)));
            bytes.remove_prefix(static_cast<std::size_t>(length));
        } else {
            out.append(replacement);
            bytes.remove_prefix(static_cast<std::size_t>(-length));
        }
    }
    return out;
}

}  // namespace

// --- PanicException and the entry frame -------------------------------------------------------

namespace {

PyObject* panic_exception_type() {
    if (panic_slot != nullptr) return panic_slot;
    OwnedRef created =
        OwnedRef::steal(PyErr_NewExceptionWithDoc(panic_name, panic_doc, PyExc_BaseException, nullptr));
    if (!created) {
        // Taken as it is: checking it for a PanicException would need this
        // very type.
        ErrorIndicator pending = take_error_indicator();
        ErrorValue reason = pending.type ? ErrorValue::fetched(std::move(pending)) : ErrorValue::none_was_set();
        fail_with_error("Failed to initialize new exception type.", std::move(reason));
    }
    // Creating a class can run Python code; if that code filled the slot
    // meanwhile, the first type stays and this one is dropped.
    if (panic_slot == nullptr) panic_slot = created.release();
    return panic_slot;
}

}  // namespace

PyObject* run_in_entry_frame(EntryBody body, void* context) {
    // Before the body can exhaust memory, so that its std::bad_alloc unwinds.
    reserve_exception_state();
    try {
        std::optional<ErrorValue> error;
        try {
            Result<OwnedRef> outcome = body(context);
            if (outcome.ok()) return std::move(outcome).value().release();
            error.emplace(outcome.take_error());
        } catch (const ResumedPanic& panic) {
            error.emplace(ErrorValue::panic(panic.message()));
        } catch (const BindingFailure& failure) {
            error.emplace(reported_panic(failure.message(), failure.where(), &failure.stack()));
        } catch (const InternalFailure& failure) {
            error.emplace(reported_panic(failure.message(), failure.where()));
        } catch (const std::bad_alloc&) {
            // Everything the body held has been released by the unwinding.
            PyErr_NoMemory();
            return nullptr;
        } catch (const std::length_error&) {
            // A buffer size that cannot be represented.
            error.emplace(reported_panic("capacity overflow", std::source_location::current()));
        } catch (const std::exception& failure) {
            error.emplace(reported_panic(failure.what(), std::source_location::current()));
        } catch (const platform::ThreadExitUnwinding&) {
            throw;
        } catch (...) {
            error.emplace(reported_panic(textless_failure, std::source_location::current()));
        }
        std::move(*error).raise();
        return nullptr;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return nullptr;
    } catch (const platform::ThreadExitUnwinding&) {
        throw;
    } catch (...) {
        abort_at_ffi_boundary();
    }
}

}  // namespace morvanex::binding
