#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine_test_support.hpp"

namespace morvanex::testing {
namespace {

const double nan = std::numeric_limits<double>::quiet_NaN();

struct ScorerCase {
    const char* name;
    const char* candidate;
    CandidateKind kind;
    InsertedScores (*scores)();
    InsertedStrings (*whitelist)();
    double expected;
};

InsertedScores abcd_scores() {
    return table_of({{"a", 0.5}, {"ab", 1.0}, {"bc", 5.0}, {"cd", 1.5}, {"d", 0.5}, {"abcd", 2.0}});
}
InsertedStrings a_d() { return set_of({"a", "d"}); }
InsertedScores ab_abc_c() { return table_of({{"ab", 2.0}, {"abc", 2.5}, {"c", 1.0}}); }
InsertedStrings only_c() { return set_of({"c"}); }
InsertedStrings nothing() { return set_of({}); }
InsertedScores three_pieces() { return table_of({{"ab", 1.0}, {"c", 1.0}, {"d", 1.0}}); }
InsertedStrings c_d() { return set_of({"c", "d"}); }
InsertedScores sinking_total() { return table_of({{"ab", -1.5}, {"c", 4.0}, {"abc", -0.5}}); }
InsertedScores x_quarter() { return table_of({{"x", 0.25}}); }
InsertedStrings only_x() { return set_of({"x"}); }
InsertedScores empty_scores() { return table_of({}); }
InsertedScores nan_whole() { return table_of({{"ab", nan}, {"a", 1.0}, {"b", 2.0}}); }
InsertedScores nan_alone() { return table_of({{"ab", nan}}); }
InsertedStrings a_b() { return set_of({"a", "b"}); }
InsertedScores accent_scores() { return table_of({{"\xC3\xA9", 1.0}, {"a", 1.0}}); }
InsertedStrings only_a() { return set_of({"a"}); }
InsertedStrings accent_a() { return set_of({"\xC3\xA9", "a"}); }

const ScorerCase scorer_cases[] = {
    {"root_abcd", "abcd", CandidateKind::root, abcd_scores, a_d, 6.0},
    {"affix_abcd", "abcd", CandidateKind::affix, abcd_scores, a_d, 2.5},
    {"whitelisted_c", "abc", CandidateKind::root, ab_abc_c, only_c, 3.0},
    {"empty_whitelist", "abc", CandidateKind::root, ab_abc_c, nothing, 2.5},
    {"root_three_pieces", "abcd", CandidateKind::root, three_pieces, c_d, 3.0},
    {"affix_three_pieces", "abcd", CandidateKind::affix, three_pieces, c_d, -1.0},
    {"total_at_or_below_minus_one", "abc", CandidateKind::root, sinking_total, only_c, -0.5},
    {"one_char_whitelisted_root", "x", CandidateKind::root, x_quarter, only_x, 0.25},
    {"one_char_whitelisted_affix", "x", CandidateKind::affix, x_quarter, only_x, 0.25},
    {"one_char_not_whitelisted_root", "x", CandidateKind::root, x_quarter, nothing, -1.0},
    {"one_char_not_whitelisted_affix", "x", CandidateKind::affix, x_quarter, only_c, -1.0},
    {"empty_scores", "abcd", CandidateKind::root, empty_scores, a_d, -1.0},
    {"nan_whole_word", "ab", CandidateKind::root, nan_whole, a_b, 3.0},
    {"nan_only", "ab", CandidateKind::root, nan_alone, a_b, -1.0},
    {"two_byte_char_needs_whitelist",
     "\xC3\xA9"
     "a",
     CandidateKind::root, accent_scores, only_a, -1.0},
    {"two_byte_char_whitelisted",
     "\xC3\xA9"
     "a",
     CandidateKind::root, accent_scores, accent_a, 2.0},
};

class WorkedExamples : public ::testing::TestWithParam<ScorerCase> {};

TEST_P(WorkedExamples, FastAndLiteralScorersGiveTheExpectedValue) {
    const ScorerCase& c = GetParam();
    InsertedScores scores = c.scores();
    InsertedStrings whitelist = c.whitelist();
    EXPECT_EQ(bits_of(fast_score(c.candidate, scores, whitelist, c.kind)), bits_of(c.expected));
    EXPECT_EQ(bits_of(literal_score(c.candidate, scores, whitelist, c.kind)), bits_of(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Scorer, WorkedExamples, ::testing::ValuesIn(scorer_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Scorer, InfinitiesFollowIeeeArithmetic) {
    InsertedStrings whitelist = set_of({"a", "b"});
    InsertedScores plus_minus = table_of({{"a", INFINITY}, {"b", -INFINITY}});
    EXPECT_EQ(fast_score("ab", plus_minus, whitelist, CandidateKind::root), -1.0);  // inf + -inf is NaN, never stored
    InsertedScores plus = table_of({{"a", INFINITY}, {"b", 1.0}});
    EXPECT_EQ(fast_score("ab", plus, whitelist, CandidateKind::root), INFINITY);
}

TEST(Scorer, SignedZeroScoresGiveAPositiveZeroTotal) {
    // Totals start from best[0] = +0.0, and +0.0 + -0.0 is +0.0.
    InsertedStrings whitelist = set_of({"a", "b"});
    InsertedScores scores = table_of({{"ab", -0.0}, {"a", -0.0}, {"b", -0.0}});
    for (CandidateKind kind : {CandidateKind::root, CandidateKind::affix}) {
        EXPECT_EQ(bits_of(fast_score("ab", scores, whitelist, kind)), bits_of(0.0));
        EXPECT_EQ(bits_of(literal_score("ab", scores, whitelist, kind)), bits_of(0.0));
    }
}

TEST(Scorer, AffixUsesSuffixesAfterAnyUsablePrefix) {
    InsertedStrings whitelist = set_of({});
    InsertedScores scores = table_of({{"pre", 1.0}, {"pref", 0.5}, {"fix", 2.0}, {"ix", 4.0}});
    EXPECT_EQ(fast_score("prefix", scores, whitelist, CandidateKind::affix), 4.5);  // pref + ix
    EXPECT_EQ(fast_score("prefix", scores, whitelist, CandidateKind::root), 4.5);
}

TEST(Scorer, KeysWithEmbeddedNulAreWholePieces) {
    std::string candidate("a\0b", 3);
    InsertedScores scores(1);
    scores.insert(candidate, 0.75);
    EXPECT_EQ(fast_score(candidate, scores, set_of({}), CandidateKind::root), 0.75);
    EXPECT_EQ(fast_score(candidate, scores, set_of({}), CandidateKind::affix), 0.75);
}

}  // namespace
}  // namespace morvanex::testing
