#include <gtest/gtest.h>

#include <string>

#include "engine_test_support.hpp"

// The fallback that keeps a key's rest as nodes when the tail arena would
// pass 4 GiB (measure_levels) is not tested: reaching it takes more than
// 4 GiB of key text, held twice while the trie is built.

namespace morvanex::testing {
namespace {

TEST(PieceIndex, KeysWithEmbeddedNulAreWholePieces) {
    std::string candidate("a\0b", 3);
    InsertedScores scores(1);
    scores.insert(candidate, 0.75);
    EXPECT_EQ(fast_score(candidate, scores, set_of({}), CandidateKind::root), 0.75);
    EXPECT_EQ(fast_score(candidate, scores, set_of({}), CandidateKind::affix), 0.75);
}

}  // namespace
}  // namespace morvanex::testing
