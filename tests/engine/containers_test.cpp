#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "inserted_scores.hpp"
#include "inserted_strings.hpp"
#include "result_table.hpp"

namespace morvanex::testing {
namespace {

TEST(Containers, RepeatsResolveToTheFirstMemberAndTheLastValue) {
    InsertedStrings set;
    StringList list;
    for (const char* word : {"b", "a", "b", "", "c", "a"}) {
        set.insert(word);
        list.add(word);
    }
    std::vector<std::uint32_t> members = set.members_in_byte_order();
    EXPECT_EQ(members, (std::vector<std::uint32_t>{3, 1, 0, 4}));
    // A word list taken whole, its repeats kept until the sort, resolves alike.
    EXPECT_EQ(InsertedStrings(std::move(list)).members_in_byte_order(), members);

    InsertedScores table;
    table.insert("x", 1.0);
    table.insert("y", 2.0);
    table.insert("x", 3.0);
    EXPECT_EQ(table.entries_in_byte_order(), (std::vector<std::uint32_t>{2, 1}));
}

TEST(Containers, AResultTableIsVisitedInByteOrderWithEachStringsMembership) {
    // Roots and affixes interleaved in byte order, repeats, the empty string
    // in both, strings in both at either end and in the middle.
    InsertedStrings roots, affixes;
    for (const char* root : {"m", "", "b", "zz", "a", "q", "m", "\xC3\xA9"}) roots.insert(root);
    for (const char* affix : {"zz", "c", "", "a", "m", "n", "\xC3\xA9t"}) affixes.insert(affix);
    std::vector<std::uint32_t> root_order = roots.members_in_byte_order();
    std::vector<std::uint32_t> affix_order = affixes.members_in_byte_order();
    const ResultTable table(std::move(roots), std::move(root_order), std::move(affixes), std::move(affix_order));
    using Membership = ResultTable::Membership;
    std::vector<std::pair<std::string, Membership>> visited;
    std::vector<ResultTable::Entry> entries;
    EXPECT_TRUE(table.visit_in_byte_order([&](ResultTable::Entry entry, std::string_view key, Membership membership) {
        EXPECT_EQ(table.key(entry), key);
        visited.emplace_back(key, membership);
        entries.push_back(entry);
        return true;
    }));
    const std::vector<std::pair<std::string, Membership>> expected = {
        {"a", Membership::both},  {"b", Membership::root},        {"c", Membership::affix},
        {"m", Membership::both},  {"n", Membership::affix},       {"q", Membership::root},
        {"zz", Membership::both}, {"\xC3\xA9", Membership::root}, {"\xC3\xA9t", Membership::affix}};
    EXPECT_EQ(visited, expected);
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(std::adjacent_find(entries.begin(), entries.end()), entries.end());
    EXPECT_EQ(entries.size(), table.size());

    std::size_t visits = 0;
    EXPECT_FALSE(
        table.visit_in_byte_order([&](ResultTable::Entry, std::string_view, Membership) { return ++visits < 3; }));
    EXPECT_EQ(visits, 3u);
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

}  // namespace
}  // namespace morvanex::testing
