#pragma once
// The failure report: what the module itself writes to standard error when a
// call ends in PanicException, and the banner of a resumed panic. Each
// function writes and flushes the stream before it returns, so that the
// report comes before anything the interpreter prints next.
//
// Ownership contract: nothing here touches a Python object or throws, so a
// report can be written anywhere, also while the entry frame is raising.
#include <source_location>
#include <string_view>

#include "platform.hpp"

namespace morvanex::binding {

// True when MORVANEX_BACKTRACE is set to anything but empty or "0".
bool backtrace_requested() noexcept;

// Writes the failure report for `message` raised at `where`: thread, position
// (from the project's src/ directory on) and message, a note saying
// `consequence`, and how to get the native call stack. With a backtrace
// requested the report ends with `stack`, or with the stack of the caller
// when `stack` is null or empty.
void write_failure_report(std::string_view message, const std::source_location& where, std::string_view consequence,
                          const platform::NativeStack* stack = nullptr) noexcept;

// The two lines written before the traceback of a PanicException that came
// back out of Python code.
void write_resume_banner() noexcept;

}  // namespace morvanex::binding
