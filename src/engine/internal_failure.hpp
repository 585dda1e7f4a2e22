#pragma once
// A violated invariant inside the module. It unwinds to the nearest entry
// frame of the binding, which reports it and raises PanicException with
// `message`. Exhausted memory is not an internal failure: it travels as
// std::bad_alloc.
#include <exception>
#include <source_location>
#include <string>
#include <utility>

namespace morvanex {

class InternalFailure : public std::exception {
public:
    explicit InternalFailure(std::string message,
                             std::source_location where = std::source_location::current())
        : message_(std::move(message)), where_(where) {}

    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }
    const std::source_location& where() const noexcept { return where_; }

private:
    std::string message_;
    std::source_location where_;
};

}  // namespace morvanex
