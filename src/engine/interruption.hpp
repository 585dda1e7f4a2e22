#pragma once
// Stopping a long call from outside. The thread that made the call asks, at
// bounded intervals of its work, whether to stop (the binding checks for
// pending signals there); the other threads of the call only look whether
// it has decided so. Either way the work ends by throwing Interrupted, which
// unwinds like any failure and releases everything on the way.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

namespace morvanex {

// Thrown when a call stops on request. It is no failure: whoever asked for
// the stop knows why.
struct Interrupted {};

// Thrown on the asking thread when the call's other threads are gone: in a
// child process forked during the call, which has only the thread that
// forked. The call cannot be finished; the thread leaves it without waiting
// for them.
struct ThreadsLost {};

class Interruption {
public:
    enum class Answer { go_on, stop, threads_lost };
    // Whether the call should go on. Called on the asking thread only.
    using Ask = Answer (*)(void* context);

    Interruption() = default;  // nobody asks: the work never stops
    // The asking thread is the one that makes the interruption.
    Interruption(Ask ask, void* context) : ask_(ask), context_(context) {}
    Interruption(const Interruption&) = delete;
    Interruption& operator=(const Interruption&) = delete;

    // On the asking thread: asks, and unless the answer is to go on, marks
    // the call stopped and throws Interrupted or ThreadsLost.
    void ask_or_throw() {
        if (ask_ == nullptr) return;
        const Answer answer = ask_(context_);
        if (answer == Answer::go_on) return;
        stopped_.store(true, std::memory_order_relaxed);
        if (answer == Answer::threads_lost) throw ThreadsLost();
        throw Interrupted();
    }

    // On any other thread: throws Interrupted once the asking thread stopped.
    void throw_if_stopped() const {
        if (stopped_.load(std::memory_order_relaxed)) throw Interrupted();
    }

    // Whichever of the two is this thread's.
    void check() {
        if (std::this_thread::get_id() == asking_thread_)
            ask_or_throw();
        else
            throw_if_stopped();
    }

private:
    Ask ask_ = nullptr;
    void* context_ = nullptr;
    std::thread::id asking_thread_ = std::this_thread::get_id();
    std::atomic<bool> stopped_{false};
};

// Counts one thread's work in units (a trie step while scoring, a string or
// character handled while preparing) and, once every `interval` units,
// checks its interruption: asks on the asking thread, looks elsewhere. A
// meter without an interruption only counts.
class WorkMeter {
public:
    static constexpr std::int64_t interval = std::int64_t{1} << 16;

    WorkMeter() = default;
    explicit WorkMeter(Interruption* interruption) : interruption_(interruption) {}

    void count(std::size_t units) {
        left_ -= static_cast<std::int64_t>(units);
        if (left_ <= 0) check();
    }

    // Calls step(k) for each k in [begin, end), one unit each, counted a
    // stretch of steps at a time so that short steps pay nothing for it.
    template <class Step>
    void count_each(std::size_t begin, std::size_t end, Step step) {
        constexpr std::size_t stretch = 4096;
        for (std::size_t stop = begin; begin < end; begin = stop) {
            stop = end - begin > stretch ? begin + stretch : end;
            count(stop - begin);
            for (std::size_t k = begin; k < stop; ++k) step(k);
        }
    }

private:
    void check() {
        left_ = interval;
        if (interruption_ != nullptr) interruption_->check();
    }

    Interruption* interruption_ = nullptr;
    std::int64_t left_ = interval;
};

}  // namespace morvanex
