// The fast scorer against the literal one on random inputs: multi-byte
// alphabets, special values (NaN, infinities, signed zeros, -1.0), varied
// whitelists, both kinds and candidates up to a few hundred characters, over
// tries built whole and from the scores of others, updated.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <unordered_map>

#include "driver.hpp"
#include "engine_test_support.hpp"
#include "random_inputs.hpp"

namespace morvanex::testing {
namespace {

TEST(Differential, FastScorerMatchesLiteralBitForBit) {
    std::mt19937_64 rng(20261207);
    std::size_t compared = 0, covered = 0;
    for (int round = 0; round < 400; ++round) {
        RandomInputs inputs = make_random_inputs(rng);
        // Every other round, the scores read back from the trie of the
        // insertions before a random cut, with the rest put over them: the
        // same scores, as later insertions win in both.
        std::optional<PieceIndex> pieces;
        if (round % 2 == 0) {
            pieces.emplace(inputs.scores, inputs.scores.entries_in_byte_order(), inputs.whitelist);
        } else {
            const std::size_t cut = std::uniform_int_distribution<std::size_t>(0, inputs.scores.size())(rng);
            InsertedScores before(cut), after;
            for (std::size_t k = 0; k < inputs.scores.size(); ++k)
                (k < cut ? before : after).insert(inputs.scores.key(k), inputs.scores.value(k));
            Interruption never;
            const InsertedScores kept =
                PieceIndex(before, before.entries_in_byte_order(), inputs.whitelist).entries_in_byte_order();
            const InsertedScores updated = updated_in_byte_order(kept, after, 2, never);
            pieces.emplace(updated, positions_in_order(updated), inputs.whitelist);
        }
        literal::Lookup tables(inputs.scores, inputs.whitelist);
        // Each candidate also comes between neighbours that share its
        // beginning, as byte order brings them, for the walks a root takes
        // over from the one before.
        std::vector<std::string> sequence = inputs.candidates;
        for (const std::string& candidate : inputs.candidates) {
            std::u32string chars = literal::decode(candidate);
            std::string half, dropped;  // its first half; itself without its middle character
            for (std::size_t k = 0; k < chars.size(); ++k) {
                if (k < chars.size() / 2) literal::encode_into(chars[k], half);
                if (k != chars.size() / 2) literal::encode_into(chars[k], dropped);
            }
            for (const std::string& neighbour : {half, candidate, candidate + half, candidate, dropped, dropped})
                sequence.push_back(neighbour);
        }
        ScorerScratch scratch;
        for (const std::string& candidate : sequence) {
            if (candidate.empty()) continue;
            for (CandidateKind kind : {CandidateKind::root, CandidateKind::affix}) {
                decode_into(candidate, scratch.chars);
                Cover fast = best_cover(scratch.chars, *pieces, kind, scratch);
                double slow = literal::best_cover_value(literal::decode(candidate), tables, kind);
                ASSERT_EQ(bits_of(fast.value), bits_of(slow))
                    << "round " << round << " candidate '" << candidate << "' affix " << (kind == CandidateKind::affix);
                const double* whole = tables.find(candidate);
                ASSERT_EQ(fast.whole_value.has_value(), whole != nullptr) << candidate;
                if (whole) {
                    ASSERT_EQ(bits_of(*fast.whole_value), bits_of(*whole)) << candidate;
                }
                ++compared;
                covered += fast.value > -1.0;
            }
        }
    }
    EXPECT_GT(compared, 5000u);
    EXPECT_GT(covered * 5, compared);  // many cases must exercise real covers
}

}  // namespace
}  // namespace morvanex::testing

namespace morvanex::testing {
namespace {

// The whole iteration against the literal scorer and the update rule, with
// previous scores read from plain hash lookups: every candidate's entry, as a
// root and, where it is one, as an affix, whatever the number of threads.
TEST(Differential, DriverMatchesLiteralIterationBitForBit) {
    std::mt19937_64 rng(7122026);
    for (int round = 0; round < 300; ++round) {
        RandomInputs inputs = make_random_inputs(rng);
        literal::Lookup tables(inputs.scores, inputs.whitelist);
        InsertedStrings roots, affixes;
        std::unordered_map<std::string, double> expected;
        for (std::size_t k = 0; k < inputs.candidates.size(); ++k) {
            const std::string& candidate = inputs.candidates[k];
            // Keys of the score table are candidates too, so previous scores
            // and whole-key walks (tails included) are exercised.
            (k % 3 == 0 ? affixes : roots).insert(candidate);
        }
        for (std::size_t k = 0; k < inputs.scores.size(); k += 2) roots.insert(inputs.scores.key(k));
        auto literal_value = [&](std::string_view candidate, CandidateKind kind) {
            std::u32string chars = literal::decode(candidate);
            const double* found = tables.find(std::string(candidate));
            double cover = literal::best_cover_value(chars, tables, kind);
            return literal::updated_score(found ? *found : 0.0, cover, chars.size());
        };
        for (std::size_t k = 0; k < roots.size(); ++k)
            if (!roots[k].empty()) expected[std::string(roots[k])] = literal_value(roots[k], CandidateKind::root);
        for (std::size_t k = 0; k < affixes.size(); ++k)
            if (!affixes[k].empty())
                expected[std::string(affixes[k])] = literal_value(affixes[k], CandidateKind::affix);

        // Any number of threads gives the same table, bit for bit.
        for (std::size_t threads : {1, 2, 3, 8}) {
            ResultTable result = rescore_candidates(roots, affixes, inputs.scores, inputs.whitelist, threads);
            ASSERT_EQ(result.size(), expected.size()) << "round " << round;
            for (ResultTable::Entry entry = 0; entry < result.size(); ++entry) {
                auto found = expected.find(std::string(result.key(entry)));
                ASSERT_NE(found, expected.end());
                ASSERT_EQ(bits_of(result.value(entry)), bits_of(found->second))
                    << "round " << round << " threads " << threads << " key '" << result.key(entry) << "'";
            }
        }
    }
}

}  // namespace
}  // namespace morvanex::testing
