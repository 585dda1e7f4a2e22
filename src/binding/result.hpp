#pragma once
// Result<T>: either a value or a Python error, returned by every binding
// operation that can meet a Python error. Internal failures never travel in a
// Result: they unwind as C++ exceptions to the entry frame.
#include <utility>
#include <variant>

#include "error_value.hpp"

namespace morvanex::binding {

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(ErrorValue error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return state_.index() == 0; }

    T& value() & { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    ErrorValue take_error() { return std::get<1>(std::move(state_)); }

private:
    std::variant<T, ErrorValue> state_;
};

// A successful outcome that carries no value.
struct Done {};

}  // namespace morvanex::binding
