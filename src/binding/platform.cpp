#include "platform.hpp"

#include "messages.hpp"

#if !defined(_WIN32)
#include <unistd.h>
#endif
#if defined(__linux__)
#include <sys/syscall.h>
#endif
// glibc and macOS have backtrace(); musl and Windows do not.
#if defined(__GLIBC__) || defined(__APPLE__)
#include <execinfo.h>
#include <unistd.h>
#define MORVANEX_NATIVE_STACK 1
#endif

namespace morvanex::binding::platform {

long process_id() noexcept {
#if defined(_WIN32)
    return 0;  // no fork
#else
    return static_cast<long>(getpid());
#endif
}

const char* thread_label() noexcept {
#if defined(__linux__)
    if (static_cast<pid_t>(syscall(SYS_gettid)) == getpid()) return messages::main_thread_label;
#endif
    return messages::other_thread_label;
}

bool native_stack_available() noexcept {
#if defined(MORVANEX_NATIVE_STACK)
    return true;
#else
    return false;
#endif
}

NativeStack capture_native_stack() noexcept {
    NativeStack stack;
#if defined(MORVANEX_NATIVE_STACK)
    stack.depth = backtrace(stack.frames, NativeStack::capacity);
#endif
    return stack;
}

void write_native_stack([[maybe_unused]] const NativeStack& stack) noexcept {
#if defined(MORVANEX_NATIVE_STACK)
    backtrace_symbols_fd(const_cast<void* const*>(stack.frames), stack.depth, STDERR_FILENO);
#endif
}

}  // namespace morvanex::binding::platform
