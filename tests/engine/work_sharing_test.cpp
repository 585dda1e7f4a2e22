#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <new>

#include "internal_failure.hpp"
#include "work_sharing.hpp"

namespace morvanex::testing {
namespace {

TEST(WorkSharing, AFailureOnAnyThreadIsRethrownOnTheCallerAfterEveryThreadHasFinished) {
    // The failing thread abandons the queue once its exception reaches a
    // handler; until then the others go on claiming, as many chunks as they
    // manage. So the queue has more than they could claim in years: they
    // stop only because the failure abandoned it.
    constexpr std::size_t endless = std::numeric_limits<std::size_t>::max() / 2;
    for (std::size_t threads : {1, 2, 4}) {
        for (bool out_of_memory : {false, true}) {
            ChunkQueue queue(endless, 1);
            std::atomic<std::size_t> started{0}, finished{0};
            auto work = [&] {
                ++started;
                struct Leave {
                    std::atomic<std::size_t>& count;
                    ~Leave() { ++count; }
                } leave{finished};
                for (ChunkQueue::Chunk chunk; queue.claim(chunk);) {
                    if (chunk.begin != 100) continue;
                    if (out_of_memory) throw std::bad_alloc();
                    throw InternalFailure("stop");
                }
            };
            if (out_of_memory)
                EXPECT_THROW(run_sharing(threads, queue, work), std::bad_alloc);
            else
                EXPECT_THROW(run_sharing(threads, queue, work), InternalFailure);
            EXPECT_EQ(finished.load(), started.load()) << threads;
            EXPECT_LE(started.load(), threads);
            ChunkQueue::Chunk next;
            if (threads > 1) {
                EXPECT_FALSE(queue.claim(next)) << threads;  // abandoned
            }
        }
    }
}

}  // namespace
}  // namespace morvanex::testing
