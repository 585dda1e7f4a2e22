#include <gtest/gtest.h>

#include <string>

#include "driver.hpp"
#include "engine_test_support.hpp"
#include "interruption.hpp"

namespace morvanex::testing {
namespace {

// One long candidate whose walks all follow one long key: far more trie steps
// than the asks allow, whichever thread scores it. The third ask stops the
// call; without asks it would run for minutes.
TEST(Interruption, TheThirdAskStopsTheCallOnEveryThread) {
    const std::string word(200000, 'a');
    for (std::size_t threads : {1, 2, 4}) {
        InsertedScores scores(2);
        scores.insert("a", 1.0);
        scores.insert(word, 0.5);
        InsertedStrings roots;
        roots.insert(word);
        roots.insert("aa");
        std::size_t asks = 0;
        Interruption interruption([](void* count) { return ++*static_cast<std::size_t*>(count) == 3; }, &asks);
        EXPECT_THROW(rescore_candidates(std::move(roots), InsertedStrings(), std::move(scores), set_of({"a"}), threads,
                                        interruption),
                     Interrupted)
            << threads;
        EXPECT_EQ(asks, 3u) << threads;
    }
}

}  // namespace
}  // namespace morvanex::testing
