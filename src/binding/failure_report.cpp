#include "failure_report.hpp"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "messages.hpp"

namespace morvanex::binding {
namespace {

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

bool backtrace_requested() noexcept {
    const char* setting = std::getenv(messages::backtrace_variable);
    return setting != nullptr && *setting != '\0' && std::strcmp(setting, "0") != 0;
}

void write_failure_report(std::string_view message, const std::source_location& where, std::string_view consequence,
                          const platform::NativeStack* stack) noexcept {
    std::string_view path = source_path(where.file_name());
    std::fprintf(stderr, messages::report_heading, platform::thread_label(), static_cast<int>(path.size()), path.data(),
                 static_cast<unsigned>(where.line()), static_cast<int>(message.size()), message.data(),
                 static_cast<int>(consequence.size()), consequence.data());
    if (!platform::native_stack_available()) {
        std::fputs(messages::no_native_stack, stderr);
    } else if (!backtrace_requested()) {
        std::fputs(messages::backtrace_hint, stderr);
    } else if (stack != nullptr && stack->depth > 0) {
        std::fputs(messages::backtrace_heading, stderr);
        std::fflush(stderr);
        platform::write_native_stack(*stack);
    } else {
        std::fputs(messages::caught_backtrace_heading, stderr);
        std::fflush(stderr);
        platform::write_native_stack(platform::capture_native_stack());
    }
    std::fflush(stderr);
}

void write_resume_banner() noexcept {
    std::fputs(messages::resume_banner, stderr);
    std::fflush(stderr);
}

}  // namespace morvanex::binding
