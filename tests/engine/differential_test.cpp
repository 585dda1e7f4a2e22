// The fast scorer against the literal one on random inputs: multi-byte
// alphabets, special values (NaN, infinities, signed zeros, -1.0), varied
// whitelists, both kinds and candidates up to a few hundred characters.
#include <gtest/gtest.h>

#include <random>

#include "engine_test_support.hpp"
#include "random_inputs.hpp"

namespace morvanex::testing {
namespace {

TEST(Differential, FastScorerMatchesLiteralBitForBit) {
    std::mt19937_64 rng(20261207);
    std::size_t compared = 0, covered = 0;
    for (int round = 0; round < 400; ++round) {
        RandomInputs inputs = make_random_inputs(rng);
        PieceIndex pieces(inputs.scores, inputs.whitelist);
        literal::Lookup tables(inputs.scores, inputs.whitelist);
        ScorerScratch scratch;
        for (const std::string& candidate : inputs.candidates) {
            for (bool is_affix : {false, true}) {
                decode_into(candidate, scratch.chars);
                double fast = best_segmentation_score(scratch.chars, pieces, is_affix, scratch);
                double slow = literal::best_segmentation_score(literal::decode(candidate), tables, is_affix);
                ASSERT_EQ(bits_of(fast), bits_of(slow))
                    << "round " << round << " candidate '" << candidate << "' affix " << is_affix;
                ++compared;
                covered += fast > -1.0;
            }
        }
    }
    EXPECT_GT(compared, 5000u);
    EXPECT_GT(covered * 4, compared);  // most cases must exercise real covers
}

}  // namespace
}  // namespace morvanex::testing
