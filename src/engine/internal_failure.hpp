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
    explicit InternalFailure(std::string message, std::source_location where = std::source_location::current())
        : message_(std::move(message)), where_(where) {}

    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }
    const std::source_location& where() const noexcept { return where_; }

private:
    std::string message_;
    std::source_location where_;
};

// The messages of the engine's own internal failures, which reach Python as
// the PanicException's message. The binding's messages.hpp lists them with
// every other text of the module's contract.
namespace failure_text {
// A count or a size beyond what the engine's containers can address.
inline constexpr const char* capacity_overflow = "capacity overflow";
// More candidates than the result table can hold.
inline constexpr const char* result_table_overflow = "Hash table capacity overflow";
}  // namespace failure_text

}  // namespace morvanex
