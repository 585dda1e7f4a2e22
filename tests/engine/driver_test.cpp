#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "driver.hpp"
#include "engine_test_support.hpp"

namespace morvanex::testing {
namespace {

struct UpdateCase {
    double previous;
    double best_cover;
    std::size_t length;
    double expected;
};

class UpdateRule : public ::testing::TestWithParam<UpdateCase> {};

// The engine's rule and the literal one that the whole-iteration checks apply.
TEST_P(UpdateRule, MatchesTheWorkedTable) {
    const UpdateCase& c = GetParam();
    EXPECT_EQ(bits_of(updated_score(c.previous, c.best_cover, c.length)), bits_of(c.expected));
    EXPECT_EQ(bits_of(literal::updated_score(c.previous, c.best_cover, c.length)), bits_of(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Driver, UpdateRule,
    ::testing::Values(UpdateCase{0.0, -1.0, 7, 0.0}, UpdateCase{0.0, 0.0, 7, 0.0}, UpdateCase{0.0, 3.0, 4, 0.0625},
                      UpdateCase{5.0, 3.0, 2, 5.0}, UpdateCase{2.0, 2.0, 3, 2.0}, UpdateCase{0.5, 1.0, 4, 0.125},
                      UpdateCase{0.25, -0.5, 2, 0.25}, UpdateCase{-2.0, 0.0, 5, 0.2},
                      // Evaluated as (1/L)/(N+1), which differs from 1/(L*(N+1)) in the last bit here.
                      UpdateCase{0.0, 0.4, 3, (1.0 / 3.0) / 1.4}, UpdateCase{INFINITY, 1e300, 2, INFINITY},
                      UpdateCase{1.0, INFINITY, 2, 0.0},
                      UpdateCase{std::numeric_limits<double>::quiet_NaN(), 1.0, 2, 0.25}));

TEST(Driver, OverviewExample) {
    ResultTable result = rescore_candidates(
        set_of({"abcd"}), set_of({}),
        table_of({{"a", 0.5}, {"ab", 1.0}, {"bc", 5.0}, {"cd", 1.5}, {"d", 0.5}, {"abcd", 2.0}}), set_of({"a", "d"}));
    ASSERT_EQ(result.size(), 1u);
    EXPECT_EQ(result.key(0), "abcd");
    EXPECT_EQ(bits_of(result.value(0)), bits_of(0.03571428571428571));
}

TEST(Driver, StringInBothSetsKeepsTheAffixValueAndEmptyStringIsSkipped) {
    // As a root abcd scores 6.0, as an affix 2.5; previous score 0.
    InsertedScores scores = table_of({{"a", 0.5}, {"ab", 1.0}, {"bc", 5.0}, {"cd", 1.5}, {"d", 0.5}});
    ResultTable result = rescore_candidates(set_of({"", "abcd", "zz"}), set_of({"abcd", "", "q"}), std::move(scores),
                                            set_of({"a", "d"}));
    ASSERT_EQ(result.size(), 3u);
    EXPECT_EQ(result.key(0), "abcd");
    EXPECT_EQ(result.value(0), (1.0 / 4.0) / 3.5);
    EXPECT_EQ(result.key(1), "zz");
    EXPECT_EQ(bits_of(result.value(1)), bits_of(0.0));
    EXPECT_EQ(result.key(2), "q");
}

TEST(Driver, AffixValueLandsOnTheRightRootWhereverTheEmptyRootSits) {
    // "xyz" scores 1/12 as a root (x + y + z) and keeps its 0.5 as an affix;
    // "ab" and "q" keep their own values. A misplaced affix entry would show
    // as 0.5 on the wrong key.
    const std::vector<std::vector<const char*>> root_orders = {
        {"", "ab", "xyz", "q"}, {"ab", "", "xyz", "q"}, {"ab", "xyz", "", "q"}, {"ab", "xyz", "q", ""}};
    for (const auto& order : root_orders) {
        InsertedStrings roots;
        for (const char* word : order) roots.insert(word);
        InsertedScores scores = table_of({{"x", 1.0}, {"y", 1.0}, {"z", 1.0}, {"xyz", 0.5}, {"ab", 1.0}, {"q", 2.0}});
        ResultTable result = rescore_candidates(std::move(roots), set_of({"xyz", "new"}), std::move(scores),
                                                set_of({"x", "y", "z", "q"}));
        ASSERT_EQ(result.size(), 4u);
        for (ResultTable::Entry entry = 0; entry < result.size(); ++entry) {
            std::string_view key = result.key(entry);
            double expected = key == "ab" ? 1.0 : key == "xyz" ? 0.5 : key == "q" ? 2.0 : 0.0;
            EXPECT_EQ(result.value(entry), expected) << key;
        }
        EXPECT_EQ(result.key(3), "new");
    }
}

TEST(Driver, LengthCountsCharactersNotBytes) {
    // Two characters, five bytes.
    const char* word = "\xC3\xA9\xE2\x82\xAC";
    ResultTable result = rescore_candidates(set_of({word}), set_of({}),
                                            table_of({{"\xC3\xA9", 1.5}, {"\xE2\x82\xAC", 1.5}}),
                                            set_of({"\xC3\xA9", "\xE2\x82\xAC"}));
    EXPECT_EQ(result.value(0), (1.0 / 2.0) / 4.0);
}

TEST(Driver, EmptyCandidatesGiveAnEmptyResult) {
    ResultTable result = rescore_candidates(set_of({}), set_of({""}), table_of({{"a", 1.0}}), set_of({"a"}));
    EXPECT_EQ(result.size(), 0u);
}

TEST(Driver, PreviousScoreIsReadFromTheInputTableOnly) {
    // The root pass stores (1/3)/2.5 for "abc"; the affix pass (best cover 0.5)
    // must still start from the input's 0.5 and so keep it.
    ResultTable result = rescore_candidates(set_of({"abc"}), set_of({"abc"}),
                                            table_of({{"abc", 0.5}, {"a", 0.5}, {"b", 0.5}, {"c", 0.5}}),
                                            set_of({"a", "b", "c"}));
    EXPECT_EQ(result.value(0), 0.5);
}

TEST(Driver, RepeatedCandidatesAndKeysCountOnce) {
    // The later "ab" value (0.5) is the previous score; the repeated root and
    // affix strings each give one entry.
    InsertedStrings roots;
    for (const char* word : {"ab", "cd", "ab"}) roots.insert(word);
    InsertedStrings affixes;
    for (const char* word : {"zz", "zz"}) affixes.insert(word);
    InsertedScores scores;
    scores.insert("ab", 9.0);
    scores.insert("ab", 0.5);
    scores.insert("a", 1.0);
    scores.insert("b", 1.0);
    ResultTable result =
        rescore_candidates(std::move(roots), std::move(affixes), std::move(scores), set_of({"a", "b"}));
    ASSERT_EQ(result.size(), 3u);
    EXPECT_EQ(result.key(0), "ab");
    EXPECT_EQ(result.value(0), 0.5 / 3.0);
    EXPECT_EQ(result.key(1), "cd");
    EXPECT_EQ(result.key(2), "zz");
}

}  // namespace
}  // namespace morvanex::testing
