#include "work_sharing.hpp"

#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "internal_failure.hpp"

namespace morvanex {
namespace {

// What a thread threw, kept by value and thrown again on the calling thread:
// exhausted memory, an internal failure, a size beyond a container's reach,
// or anything else by its text. (std::exception_ptr would carry it as it is,
// but its reference counting ties the module to a newer C++ runtime than the
// rest of it needs.)
class KeptFailure {
public:
    // Call inside a catch block only; keeps the first failure of all threads.
    void keep_current() noexcept {
        std::lock_guard<std::mutex> hold(lock_);
        if (kind_ != Kind::none) return;
        try {
            throw;
        } catch (const std::bad_alloc&) {
            kind_ = Kind::out_of_memory;
        } catch (const InternalFailure& failure) {
            keep(Kind::internal, [&] { internal_.emplace(failure); });
        } catch (const std::length_error& failure) {
            keep(Kind::too_large, [&] { text_ = failure.what(); });
        } catch (const std::exception& failure) {
            keep(Kind::other, [&] { text_ = failure.what(); });
        } catch (...) {
            kind_ = Kind::other;
        }
    }

    // Throws what was kept, if anything; call once every thread has finished.
    void rethrow_if_any() const {
        switch (kind_) {
            case Kind::none: return;
            case Kind::out_of_memory: throw std::bad_alloc();
            case Kind::internal: throw *internal_;
            case Kind::too_large: throw std::length_error(text_);
            case Kind::other: throw std::runtime_error(text_);
        }
    }

private:
    enum class Kind { none, out_of_memory, internal, too_large, other };

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

}  // namespace

void run_sharing(std::size_t threads, ChunkQueue& queue, const std::function<void()>& work) {
    if (threads <= 1) {
        work();
        return;
    }
    KeptFailure failure;
    auto guarded = [&]() noexcept {
        try {
            work();
        } catch (...) {
            queue.abandon();
            failure.keep_current();
        }
    };
    {
        // Joined when the block ends, on every path. Plain threads rather than
        // std::jthread, whose shared stop state needs a newer C library.
        struct Helpers {
            std::vector<std::thread> running;
            ~Helpers() {
                for (std::thread& helper : running) helper.join();
            }
        } helpers;
        try {
            helpers.running.reserve(threads - 1);
            for (std::size_t k = 1; k < threads; ++k) helpers.running.emplace_back(guarded);
        } catch (const std::system_error&) {
            // no more threads to be had: the ones running share the work
        } catch (const std::bad_alloc&) {
            // likewise
        }
        guarded();
    }
    failure.rethrow_if_any();
}

}  // namespace morvanex
