#include "failure_report.hpp"

#include <cstddef>
#include <cstdio>
#include <new>
#include <string>

#include "messages.hpp"

namespace morvanex::binding {
namespace {

bool is_path_separator(char character) noexcept { return character == '/' || character == '\\'; }

// Source paths as the compiler saw them may be absolute build paths, with
// either separator on Windows; the report shows them from the project's src/
// directory on, which is where the file lives in the repository.
std::string_view source_path(const char* file_name) noexcept {
    std::string_view path(file_name);
    for (std::size_t at = path.rfind("src"); at != std::string_view::npos && at > 0; at = path.rfind("src", at - 1)) {
        if (is_path_separator(path[at - 1]) && at + 3 < path.size() && is_path_separator(path[at + 3]))
            return path.substr(at);
    }
    return path;
}

}  // namespace

bool backtrace_requested() noexcept {
    try {
        std::string setting = platform::environment_variable(messages::backtrace_variable);
        return !setting.empty() && setting != "0";
    } catch (const std::bad_alloc&) {
        return false;  // a report is still written, without the stack
    }
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
