#pragma once
// Sharing one piece of work among a few threads that live only for a call.
//
// The work is a range of indices handed out in consecutive chunks, so that
// each thread keeps the locality of what it claims. Whatever a thread
// throws makes the others stop claiming, and is thrown on the calling
// thread once every thread has finished.
#include <atomic>
#include <cassert>
#include <chrono>
#include <cstddef>
#include <functional>
#include <initializer_list>

namespace morvanex {

class ChunkQueue {
public:
    struct Chunk {
        std::size_t begin = 0;
        std::size_t end = 0;
    };

    // `chunk_size` must be at least 1.
    ChunkQueue(std::size_t count, std::size_t chunk_size) : count_(count), chunk_size_(chunk_size) {
        assert(chunk_size >= 1);
    }

    std::size_t chunk_count() const { return (count_ + chunk_size_ - 1) / chunk_size_; }

    // The next unclaimed chunk, in index order; false once all are claimed
    // or the work was abandoned.
    bool claim(Chunk& chunk) {
        if (abandoned_.load(std::memory_order_relaxed)) return false;
        std::size_t begin = next_.fetch_add(chunk_size_, std::memory_order_relaxed);
        if (begin >= count_) return false;
        chunk = Chunk{begin, begin + chunk_size_ < count_ ? begin + chunk_size_ : count_};
        return true;
    }

    void abandon() { abandoned_.store(true, std::memory_order_relaxed); }

private:
    const std::size_t count_;
    const std::size_t chunk_size_;
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> abandoned_{false};
};

// Runs `work` on `threads` threads at once, the calling thread being one of
// them (threads <= 1: on the calling thread alone, starting none), until
// each returns; `work` draws its share from `queue`. When the system refuses
// a thread, fewer run. An exception thrown by any of them abandons the queue
// and is thrown here after all have finished: the calling thread's own as it
// is (it passes through untouched), another thread's by value.
//
// Once its own share is done, the calling thread waits for the others; with
// `while_waiting` it calls that every `waiting_period` meanwhile, and what
// that throws ends the sharing the same way. A ThreadsLost thrown on the
// calling thread ends it at once, without waiting for the others.
inline constexpr std::chrono::milliseconds waiting_period{20};
void run_sharing(std::size_t threads, ChunkQueue& queue, const std::function<void()>& work,
                 const std::function<void()>& while_waiting = {});

// Runs each of `tasks` once, on up to `threads` threads as run_sharing
// does (with `while_waiting` as there); the threads claim them one at a time
// in the order given, so the longest should come first.
void run_tasks(std::size_t threads, std::initializer_list<std::function<void()>> tasks,
               const std::function<void()>& while_waiting = {});

}  // namespace morvanex
