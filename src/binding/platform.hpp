#pragma once
// What the binding needs from the operating system, behind one interface so
// that every platform-specific line lives in platform.cpp.
#include <cstddef>

namespace morvanex::binding::platform {

// The name of the calling thread for a failure report: "main" for the
// process's first thread, else "<unnamed>".
const char* thread_label() noexcept;

// The native call stack at one moment, kept as return addresses so that
// taking it is cheap; written out only when a report needs it.
struct NativeStack {
    static constexpr int capacity = 64;
    void* frames[capacity];
    int depth = 0;
};

// False where the platform offers no way to take a native stack.
bool native_stack_available() noexcept;

// The stack of the caller, or an empty one where none is available.
NativeStack capture_native_stack() noexcept;

// Writes one line per frame to standard error.
void write_native_stack(const NativeStack& stack) noexcept;

}  // namespace morvanex::binding::platform
