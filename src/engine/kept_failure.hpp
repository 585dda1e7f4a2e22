#pragma once
// What a piece of work threw, kept by value and thrown again later, on
// another thread or once some clean-up is done: exhausted memory, an internal
// failure, an interruption, lost threads, a size beyond a container's reach, or anything
// else by its text. (std::exception_ptr would carry it as it is, but its
// reference counting ties the module to a newer C++ runtime than the rest of
// it needs.)
#include <mutex>
#include <optional>
#include <string>

#include "internal_failure.hpp"

namespace morvanex {

class KeptFailure {
public:
    // Call inside a catch block only; keeps the first failure of all callers.
    // Thread-safe.
    void keep_current() noexcept;

    // Throws what was kept, if anything.
    void rethrow_if_any() const;

private:
    enum class Kind { none, out_of_memory, internal, interrupted, threads_lost, too_large, other };

    // Copying the failure may itself run out of memory.
    template <class Copy>
    void keep(Kind kind, Copy copy) noexcept {
        try {
            copy();
            kind_ = kind;
        } catch (...) {
            kind_ = Kind::out_of_memory;
        }
    }

    std::mutex lock_;
    Kind kind_ = Kind::none;
    std::optional<InternalFailure> internal_;
    std::string text_;
};

}  // namespace morvanex
