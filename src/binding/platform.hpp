#pragma once
// What the binding needs from the operating system, behind one interface so
// that every platform-specific line lives in platform.cpp.
#include <cstddef>
#include <string>
#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

namespace morvanex::binding::platform {

// The exception with which the C library ends a thread by unwinding its
// stack: glibc's pthread_exit, which the interpreter calls when a daemon
// thread takes its lock back after the interpreter has finished. It must
// pass through every frame, so each catch-all handler on such a path
// rethrows it. Elsewhere threads end without unwinding and it never arrives.
#if defined(__GLIBCXX__)
using ThreadExitUnwinding = abi::__forced_unwind;
#else
struct ThreadExitUnwinding {};
#endif

// The value of the environment variable `name`, empty when it is unset.
std::string environment_variable(const char* name);

// Called while the module is initialised, by the thread that imports it: the
// interpreter's main thread whenever the first import is made there, as a
// program's imports are. Where the operating system cannot name the process's
// first thread, that thread stands for it.
void remember_initialising_thread() noexcept;

// Tells a process from a child forked from it: the process id where
// processes fork, the same value in every process elsewhere.
long process_id() noexcept;

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
