#include "platform.hpp"

#include <cstdlib>
#include <memory>
#include <thread>

#include "messages.hpp"

// MORVANEX_GENERIC_PLATFORM (a build for tests) takes the branches of the
// platforms that have neither of the two facilities below, on Linux.
#if !defined(_WIN32)
#include <unistd.h>
#endif
#if defined(__linux__) && !defined(MORVANEX_GENERIC_PLATFORM)
#include <sys/syscall.h>
#define MORVANEX_FIRST_THREAD_QUERY 1
#endif
// glibc and macOS have backtrace(); musl and Windows do not.
#if (defined(__GLIBC__) || defined(__APPLE__)) && !defined(MORVANEX_GENERIC_PLATFORM)
#include <execinfo.h>
#define MORVANEX_NATIVE_STACK 1
#endif

namespace morvanex::binding::platform {
#if !defined(MORVANEX_FIRST_THREAD_QUERY)
namespace {

// Written once, before any call can read it.
std::thread::id initialising_thread;

}  // namespace
#endif

std::string environment_variable(const char* name) {
#if defined(_WIN32)
    // The C runtime's getenv is deprecated there: its result may be changed
    // by another thread. _dupenv_s hands over a copy.
    char* value = nullptr;
    std::size_t size = 0;
    if (_dupenv_s(&value, &size, name) != 0 || value == nullptr) return {};
    std::unique_ptr<char, decltype(&std::free)> owned(value, &std::free);
    return std::string(owned.get());
#else
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
#endif
}

void remember_initialising_thread() noexcept {
#if !defined(MORVANEX_FIRST_THREAD_QUERY)
    initialising_thread = std::this_thread::get_id();
#endif
}

long process_id() noexcept {
#if defined(_WIN32)
    return 0;  // no fork
#else
    return static_cast<long>(getpid());
#endif
}

const char* thread_label() noexcept {
#if defined(MORVANEX_FIRST_THREAD_QUERY)
    bool main = static_cast<pid_t>(syscall(SYS_gettid)) == getpid();
#else
    bool main = std::this_thread::get_id() == initialising_thread;
#endif
    return main ? messages::main_thread_label : messages::other_thread_label;
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
