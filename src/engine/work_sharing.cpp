#include "work_sharing.hpp"

#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace morvanex {

void run_sharing(std::size_t threads, ChunkQueue& queue, const std::function<void()>& work) {
    if (threads <= 1) {
        work();
        return;
    }
    std::mutex failure_lock;
    std::exception_ptr failure;
    auto guarded = [&] {
        try {
            work();
        } catch (...) {
            queue.abandon();
            std::lock_guard<std::mutex> hold(failure_lock);
            if (!failure) failure = std::current_exception();
        }
    };
    {
        // Joined when the block ends, on every path. Plain threads rather than
        // std::jthread: its shared stop state would tie the module to a newer
        // C library than the rest of it needs.
        struct Helpers {
            std::vector<std::thread> threads;
            ~Helpers() {
                for (std::thread& helper : threads) helper.join();
            }
        } helpers;
        helpers.threads.reserve(threads - 1);
        for (std::size_t k = 1; k < threads; ++k) {
            try {
                helpers.threads.emplace_back(guarded);
            } catch (const std::system_error&) {
                break;  // no more threads to be had: the ones running share the work
            }
        }
        guarded();
    }
    if (failure) std::rethrow_exception(failure);
}

}  // namespace morvanex
