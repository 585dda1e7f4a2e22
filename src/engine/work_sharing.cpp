#include "work_sharing.hpp"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "exception_state.hpp"
#include "interruption.hpp"
#include "kept_failure.hpp"

namespace morvanex {
namespace {

// The threads that help the calling one. However the calling thread leaves
// (done, or unwinding), the queue is abandoned first, so that the helpers
// stop at their next claim, and then each is joined. Plain threads rather
// than std::jthread, whose shared stop state needs a newer C library.
class Helpers {
public:
    explicit Helpers(ChunkQueue& queue) : queue_(queue) {}
    Helpers(const Helpers&) = delete;
    Helpers& operator=(const Helpers&) = delete;
    ~Helpers() {
        queue_.abandon();
        for (std::thread& helper : running_) helper.join();
    }

    // Starts up to `count` helpers running `work`; fewer when the system
    // refuses more.
    void start(std::size_t count, const std::function<void()>& work, KeptFailure& failure) {
        auto helper = [this, &work, &failure]() noexcept {
            reserve_exception_state();
            try {
                work();
            } catch (...) {
                queue_.abandon();
                failure.keep_current();
            }
            std::lock_guard<std::mutex> hold(lock_);
            ++finished_;
            all_finished_.notify_one();
        };
        try {
            running_.reserve(count);
            for (std::size_t k = 0; k < count; ++k) running_.emplace_back(helper);
        } catch (const std::system_error&) {
            // no more threads to be had: the ones running share the work
        } catch (const std::bad_alloc&) {
            // likewise
        }
    }

    // Leaves the helpers to themselves, neither joined nor waited for: in a
    // child process forked meanwhile they do not exist, and the locks they
    // held stay held.
    void forsake() {
        for (std::thread& helper : running_) helper.detach();
        running_.clear();
    }

    // Returns once every helper has finished its work, calling
    // `while_waiting` every waiting_period meanwhile.
    void wait(const std::function<void()>& while_waiting) {
        std::unique_lock<std::mutex> hold(lock_);
        // Timed by the system clock: a timed wait on the steady clock needs
        // pthread_cond_clockwait, which ties the module to glibc 2.34. A jump
        // of the clock only changes how soon the next call comes.
        auto finished = [this] { return finished_ == running_.size(); };
        while (!all_finished_.wait_until(hold, std::chrono::system_clock::now() + waiting_period, finished)) {
            hold.unlock();
            while_waiting();
            hold.lock();
        }
    }

private:
    ChunkQueue& queue_;
    std::vector<std::thread> running_;
    std::mutex lock_;
    std::condition_variable all_finished_;
    std::size_t finished_ = 0;
};

}  // namespace

void run_sharing(std::size_t threads, ChunkQueue& queue, const std::function<void()>& work,
                 const std::function<void()>& while_waiting) {
    if (threads <= 1) {
        work();
        return;
    }
    KeptFailure failure;
    {
        Helpers helpers(queue);
        helpers.start(threads - 1, work, failure);
        try {
            work();
            if (while_waiting) helpers.wait(while_waiting);
        } catch (const ThreadsLost&) {
            helpers.forsake();
            throw;
        }
    }
    failure.rethrow_if_any();
}

void run_tasks(std::size_t threads, std::initializer_list<std::function<void()>> tasks,
               const std::function<void()>& while_waiting) {
    ChunkQueue queue(tasks.size(), 1);
    run_sharing(
        std::min(threads, tasks.size()), queue,
        [&] {
            for (ChunkQueue::Chunk chunk; queue.claim(chunk);) tasks.begin()[chunk.begin]();
        },
        while_waiting);
}

}  // namespace morvanex
