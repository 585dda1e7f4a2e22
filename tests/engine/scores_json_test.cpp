#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine_test_support.hpp"
#include "scores_json.hpp"

namespace morvanex::testing {
namespace {

std::vector<std::pair<std::string, std::string>> members_of(const ScoresJson& read) {
    std::vector<std::pair<std::string, std::string>> members;
    for (std::size_t k = 0; k < read.numbers.size(); ++k)
        members.emplace_back(std::string(read.keys[k]), std::string(read.numbers[k]));
    return members;
}

TEST(ScoresJson, ReadsKeysUnescapedAndNumbersAsWrittenFromTheStartGiven) {
    const std::string text = "xx \n{\"a\\\"\\\\\\/\\b\\f\\n\\r\\t\" :-0.5e+3 ,\"\\u00e9\\ud83d\\ude00\xC3\xA9\":NaN,"
                             "\"\":Infinity,\"a\\\"\\\\/\\b\\f\\n\\r\\t\":-Infinity,\"z\":0} tail";
    Interruption nobody;
    const ScoresJson read = read_scores_json(text, 2, nobody);
    ASSERT_EQ(read.error, "");
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"a\"\\/\b\f\n\r\t", "-0.5e+3"},
        {"\xC3\xA9\xF0\x9F\x98\x80\xC3\xA9", "NaN"},
        {"", "Infinity"},
        {"a\"\\/\b\f\n\r\t", "-Infinity"},  // a repeat stays: the reader of the members decides
        {"z", "0"}};
    EXPECT_EQ(members_of(read), expected);
    EXPECT_EQ(text.substr(read.end), " tail");

    InsertedStrings wanted = set_of({"z", "", "absent"});
    EXPECT_EQ(members_of(read_scores_json(text, 2, nobody, &wanted)),
              (std::vector<std::pair<std::string, std::string>>{{"", "Infinity"}, {"z", "0"}}));
}

TEST(ScoresJson, NamesTheByteWhereTextStopsBeingAnObjectOfNumbers) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"", "expected '{' at byte 0"},
        {"{\"a\":1 \"b\":2}", "expected ',' or '}' at byte 7"},
        {"{\"a\":-}", "expected a number at byte 6"},
        {"{\"a\":1e}", "expected a digit in the exponent at byte 7"},
        {"{\"\\ud83dx\":1}", "lone surrogate at byte 8"},
        {"{\"\xF4\x90\x80\x80\":1}", "invalid UTF-8 in a string at byte 2"},
        {"{\"a\\q\":1}", "invalid escape at byte 4"},
        {"{\"a", "unterminated string at byte 3"},
    };
    Interruption nobody;
    for (const auto& [text, message] : cases) EXPECT_EQ(read_scores_json(text, 0, nobody).error, message) << text;
}

}  // namespace
}  // namespace morvanex::testing
