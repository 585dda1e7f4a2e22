#include <gtest/gtest.h>

#include <atomic>
#include <new>

#include "internal_failure.hpp"
#include "work_sharing.hpp"

namespace morvanex::testing {
namespace {

TEST(WorkSharing, AFailureOnAnyThreadIsRethrownOnTheCallerAfterEveryThreadHasFinished) {
    for (std::size_t threads : {1, 2, 4}) {
        for (bool out_of_memory : {false, true}) {
            ChunkQueue queue(10000, 1);
            std::atomic<std::size_t> started{0}, finished{0}, claimed{0};
            auto work = [&] {
                ++started;
                struct Leave {
                    std::atomic<std::size_t>& count;
                    ~Leave() { ++count; }
                } leave{finished};
                for (ChunkQueue::Chunk chunk; queue.claim(chunk);) {
                    ++claimed;
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
            EXPECT_LT(claimed.load(), 10000u);  // the failure stopped the others
        }
    }
}

}  // namespace
}  // namespace morvanex::testing
