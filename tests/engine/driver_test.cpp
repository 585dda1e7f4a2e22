#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <new>
#include <random>
#include <string>
#include <thread>

#include "driver.hpp"
#include "engine_test_support.hpp"
#include "internal_failure.hpp"
#include "interruption.hpp"
#include "work_sharing.hpp"

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

TEST(Containers, RepeatsResolveToTheFirstMemberAndTheLastValue) {
    InsertedStrings set;
    for (const char* word : {"b", "a", "b", "", "c", "a"}) set.insert(word);
    std::vector<std::uint32_t> members = set.members_in_byte_order();
    EXPECT_EQ(members, (std::vector<std::uint32_t>{3, 1, 0, 4}));

    InsertedScores table;
    table.insert("x", 1.0);
    table.insert("y", 2.0);
    table.insert("x", 3.0);
    EXPECT_EQ(table.entries_in_byte_order(), (std::vector<std::uint32_t>{2, 1}));
}

TEST(Containers, ByteOrderPutsPrefixesAndNulsBeforeTheirExtensions) {
    InsertedStrings set;
    for (std::string_view word : {std::string_view("ab\0", 3), std::string_view("ab"), std::string_view("abcdefghij"),
                                  std::string_view("abcdefgh"), std::string_view("\xC3\xA9"), std::string_view("z")})
        set.insert(word);
    EXPECT_EQ(set.members_in_byte_order(), (std::vector<std::uint32_t>{1, 0, 3, 2, 5, 4}));
}

TEST(Containers, LargeSetsSortLikeAPlainSortWithRepeatsRemoved) {
    // Enough strings for the bucket path, with shared beginnings of many
    // words, strings that end inside a word or differ only by trailing NULs,
    // multi-byte characters and repeats; sorted on one thread or several.
    std::mt19937_64 rng(5);
    const std::vector<std::string> parts = {"a",           "ab", std::string("\0", 1),   "\xC3\xA9",
                                            "internation", "z",  "internationalisation-"};
    InsertedStrings set(20000);  // as many as arrive: no repeat is dropped early
    std::vector<std::string> inserted;
    for (int k = 0; k < 20000; ++k) {
        std::string text;
        for (std::size_t n = rng() % 5; n-- > 0;) text += parts[rng() % parts.size()];
        set.insert(text);
        inserted.push_back(text);
    }
    std::vector<std::uint32_t> expected(inserted.size());
    for (std::uint32_t k = 0; k < expected.size(); ++k) expected[k] = k;
    std::stable_sort(expected.begin(), expected.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return inserted[a] < inserted[b]; });
    expected.erase(std::unique(expected.begin(), expected.end(),
                               [&](std::uint32_t a, std::uint32_t b) { return inserted[a] == inserted[b]; }),
                   expected.end());
    for (std::size_t threads : {1, 2, 3}) EXPECT_EQ(set.members_in_byte_order(threads), expected) << threads;
}

TEST(Containers, RepeatsBeyondTheExpectedCountAreDroppedKeepingFirstInsertionOrder) {
    // The same long string over and over, among a few others, into a set
    // that expected one member.
    const std::string long_text(1 << 20, 'x');
    const std::vector<std::string> others = {"b", "a", "c"};
    InsertedStrings set(1);
    std::vector<std::string> first_seen;
    for (int k = 0; k < 400; ++k) {
        const std::string& text = k % 7 == 3 ? others[static_cast<std::size_t>(k) % others.size()] : long_text;
        set.insert(text);
        if (std::find(first_seen.begin(), first_seen.end(), text) == first_seen.end()) first_seen.push_back(text);
        ASSERT_LE(set.size(), 16u + 1u) << k;
    }
    std::vector<std::string> kept;
    for (std::size_t position = 0; position < set.size(); ++position)
        if (std::find(kept.begin(), kept.end(), set[position]) == kept.end()) kept.emplace_back(set[position]);
    EXPECT_EQ(kept, first_seen);
    std::vector<std::uint32_t> members = set.members_in_byte_order();
    ASSERT_EQ(members.size(), 4u);
    for (std::uint32_t position : members)  // each member reported at its first position
        for (std::size_t earlier = 0; earlier < position; ++earlier) EXPECT_NE(set[earlier], set[position]);
}

TEST(Containers, ASourceThatMayRepeatKeepsBytesProportionalToItsDistinctStrings) {
    // As many insertions as the source reported, so the count never calls
    // for a drop: two long strings in turn, then one over and over.
    const std::vector<std::string> long_texts = {std::string(1 << 20, 'x'), std::string(1 << 20, 'y')};
    InsertedStrings set(600, InsertedStrings::Source::may_repeat);
    for (int k = 0; k < 600; ++k) {
        set.insert(long_texts[k < 300 ? static_cast<std::size_t>(k) % 2 : 1]);
        ASSERT_LE(set.strings().bytes(), 6u << 20) << k;
    }
    std::vector<std::uint32_t> members = set.members_in_byte_order();
    ASSERT_EQ(members.size(), 2u);
    EXPECT_EQ(set[members[0]], long_texts[0]);
    EXPECT_EQ(set[members[1]], long_texts[1]);
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
                    if (chunk.begin > 100) {
                        // Time for the failing thread to throw, however slow
                        // (under emulation an unwinding takes milliseconds):
                        // else another thread may claim every chunk first.
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                        continue;
                    }
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
