#pragma once
// Stopping a long call from outside. The thread that made the call asks, at
// bounded intervals of its work, whether to stop (the binding checks for
// pending signals there); the other threads of the call only look whether
// it has decided so. Either way the work ends by throwing Interrupted, which
// unwinds like any failure and releases everything on the way.
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace morvanex {

// Thrown when a call stops on request. It is no failure: whoever asked for
// the stop knows why.
struct Interrupted {};

class Interruption {
public:
    // True when the call should stop. Called on the calling thread only.
    using Ask = bool (*)(void* context);

    Interruption() = default;  // nobody asks: the work never stops
    Interruption(Ask ask, void* context) : ask_(ask), context_(context) {}
    Interruption(const Interruption&) = delete;
    Interruption& operator=(const Interruption&) = delete;

    // On the calling thread: asks, and on a yes marks the call stopped and
    // throws Interrupted.
    void ask_or_throw() {
        if (ask_ == nullptr || !ask_(context_)) return;
        stopped_.store(true, std::memory_order_relaxed);
        throw Interrupted();
    }

    // On any other thread: throws Interrupted once the calling thread stopped.
    void throw_if_stopped() const {
        if (stopped_.load(std::memory_order_relaxed)) throw Interrupted();
    }

private:
    Ask ask_ = nullptr;
    void* context_ = nullptr;
    std::atomic<bool> stopped_{false};
};

// Counts one thread's work in units (a trie step, a few per candidate) and,
// once every `interval` units, asks its interruption or looks whether the
// call was stopped. A meter without an interruption only counts.
class WorkMeter {
public:
    static constexpr std::int64_t interval = std::int64_t{1} << 16;

    WorkMeter() = default;
    // `asks`: true on the calling thread only.
    WorkMeter(Interruption& interruption, bool asks) : interruption_(&interruption), asks_(asks) {}

    void count(std::size_t units) {
        left_ -= static_cast<std::int64_t>(units);
        if (left_ <= 0) check();
    }

private:
    void check() {
        left_ = interval;
        if (interruption_ == nullptr) return;
        if (asks_)
            interruption_->ask_or_throw();
        else
            interruption_->throw_if_stopped();
    }

    Interruption* interruption_ = nullptr;
    bool asks_ = false;
    std::int64_t left_ = interval;
};

}  // namespace morvanex
