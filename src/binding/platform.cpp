#include "platform.hpp"

#if defined(__linux__)
#include <dlfcn.h>
#include <execinfo.h>
#include <sys/syscall.h>
#include <unistd.h>
#elif defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace morvanex::binding::platform {

const char* thread_label() noexcept {
#if defined(__linux__)
    if (static_cast<pid_t>(syscall(SYS_gettid)) == getpid()) return "main";
#endif
    return "<unnamed>";
}

bool native_stack_available() noexcept {
#if defined(__linux__)
    return true;
#else
    return false;
#endif
}

NativeStack capture_native_stack() noexcept {
    NativeStack stack;
#if defined(__linux__)
    stack.depth = backtrace(stack.frames, NativeStack::capacity);
#endif
    return stack;
}

void write_native_stack([[maybe_unused]] const NativeStack& stack) noexcept {
#if defined(__linux__)
    backtrace_symbols_fd(const_cast<void* const*>(stack.frames), stack.depth, STDERR_FILENO);
#endif
}

void* interpreter_function(const char* name) noexcept {
#if defined(_WIN32)
    // Stable-ABI extensions link against python3.dll, which forwards to the
    // running interpreter's own DLL.
    HMODULE python = GetModuleHandleW(L"python3.dll");
    if (python == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(python, name));
#else
    // The interpreter's symbols are global in the process, whether it is
    // linked statically into the executable or loaded as libpython.
    return dlsym(RTLD_DEFAULT, name);
#endif
}

}  // namespace morvanex::binding::platform
