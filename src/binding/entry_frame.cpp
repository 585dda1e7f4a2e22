#include "entry_frame.hpp"

#include <cstdlib>
#include <exception>
#include <new>
#include <optional>
#include <source_location>
#include <stdexcept>
#include <string>
#include <utility>

#include "binding_failure.hpp"
#include "exception_state.hpp"
#include "failure_report.hpp"
#include "messages.hpp"
#include "panic_exception.hpp"
#include "platform.hpp"

namespace morvanex::binding {
namespace {

ErrorValue reported_panic(std::string message, const std::source_location& where,
                          const platform::NativeStack* stack = nullptr) {
    write_failure_report(message, where, messages::raised_note, stack);
    return ErrorValue::panic(std::move(message));
}

// A failure escaped while the frame was raising: nothing can be handed to
// Python any more.
[[noreturn]] void abort_on_failure_while_raising() noexcept {
    try {
        throw;
    } catch (const InternalFailure& failure) {
        write_failure_report(failure.message(), failure.where(), messages::raised_while_reporting);
    } catch (...) {
    }
    write_failure_report(messages::uncaught_at_boundary, std::source_location::current(), messages::aborting_note);
    std::abort();
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
        } catch (const PanicFromPython& panic) {
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
            error.emplace(reported_panic(messages::capacity_overflow, std::source_location::current()));
        } catch (const std::exception& failure) {
            error.emplace(reported_panic(failure.what(), std::source_location::current()));
        } catch (const platform::ThreadExitUnwinding&) {
            throw;
        } catch (...) {
            error.emplace(reported_panic(messages::textless_failure, std::source_location::current()));
        }
        std::move(*error).raise();
        return nullptr;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return nullptr;
    } catch (const platform::ThreadExitUnwinding&) {
        throw;
    } catch (...) {
        abort_on_failure_while_raising();
    }
}

}  // namespace morvanex::binding
