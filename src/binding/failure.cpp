#include "failure.hpp"

#include <cstdio>
#include <string>

#if defined(__linux__)
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace morvanex::binding {
namespace {

// The name used for the calling thread in a failure report.
const char* thread_label() noexcept {
#if defined(__linux__)
    if (static_cast<pid_t>(syscall(SYS_gettid)) == getpid()) return "main";
#endif
    return "<unnamed>";
}

// Source paths as the compiler saw them may be absolute build paths; the
// report shows them from the project's src/ directory on, which is where the
// file lives in the repository.
std::string_view source_path(const char* file_name) noexcept {
    std::string_view path(file_name);
    std::size_t at = path.rfind("/src/");
    if (at != std::string_view::npos) return path.substr(at + 1);
    return path;
}

}  // namespace

void fail(std::string message, std::source_location where) {
    throw InternalFailure(std::move(message), where);
}

OwnedRef expect_created(PyObject* created, std::source_location where) {
    if (created == nullptr) {
        PyErr_Print();
        fail("Python API call failed", where);
    }
    return OwnedRef::steal(created);
}

void write_failure_report(std::string_view message, const std::source_location& where,
                          std::string_view consequence) noexcept {
    std::string_view path = source_path(where.file_name());
    std::fprintf(stderr, "thread '%s' panicked at %.*s:%u:\n%.*s\nnote: %.*s\n", thread_label(),
                 static_cast<int>(path.size()), path.data(), static_cast<unsigned>(where.line()),
                 static_cast<int>(message.size()), message.data(),
                 static_cast<int>(consequence.size()), consequence.data());
    std::fflush(stderr);
}

}  // namespace morvanex::binding
