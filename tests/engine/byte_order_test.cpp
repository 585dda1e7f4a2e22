#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "byte_order.hpp"
#include "inserted_strings.hpp"

namespace morvanex::testing {
namespace {

TEST(ByteOrder, ByteOrderPutsPrefixesAndNulsBeforeTheirExtensions) {
    InsertedStrings set;
    for (std::string_view word : {std::string_view("ab\0", 3), std::string_view("ab"), std::string_view("abcdefghij"),
                                  std::string_view("abcdefgh"), std::string_view("\xC3\xA9"), std::string_view("z")})
        set.insert(word);
    EXPECT_EQ(set.members_in_byte_order(), (std::vector<std::uint32_t>{1, 0, 3, 2, 5, 4}));
}

TEST(ByteOrder, LargeSetsSortLikeAPlainSortWithRepeatsRemoved) {
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
    // Each position's kept position: its string's first, or last, insertion.
    std::map<std::string, std::pair<std::uint32_t, std::uint32_t>> first_and_last;
    for (std::uint32_t k = 0; k < inserted.size(); ++k) {
        auto [place, added] = first_and_last.try_emplace(inserted[k], k, k);
        place->second.second = k;
    }
    for (std::size_t threads : {1, 2, 3}) {
        EXPECT_EQ(set.members_in_byte_order(threads), expected) << threads;
        for (KeepRepeat keep : {KeepRepeat::first, KeepRepeat::last}) {
            std::vector<std::uint32_t> kept_position;
            distinct_in_byte_order(set.strings(), keep, threads, nullptr, &kept_position);
            ASSERT_EQ(kept_position.size(), inserted.size());
            for (std::uint32_t k = 0; k < inserted.size(); ++k) {
                const auto& [first, last] = first_and_last.at(inserted[k]);
                ASSERT_EQ(kept_position[k], keep == KeepRepeat::first ? first : last) << k << " " << threads;
            }
        }
    }
}

}  // namespace
}  // namespace morvanex::testing
