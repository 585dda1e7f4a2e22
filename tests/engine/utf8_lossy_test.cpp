#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "utf8_lossy.hpp"

namespace morvanex::binding::testing {
namespace {

using namespace std::string_view_literals;

struct LossyCase {
    const char* name;
    std::string_view bytes;
    // '?' stands for one U+FFFD; expected values are those of Python's
    // bytes.decode("utf-8", "replace").
    std::string_view expected;
};

std::string with_replacements(std::string_view pattern) {
    std::string text;
    for (char c : pattern) text += c == '?' ? std::string_view("\xEF\xBF\xBD") : std::string_view(&c, 1);
    return text;
}

const LossyCase lossy_cases[] = {
    {"nul_kept", "a\0b"sv, "a\0b"sv},
    {"every_width_kept", "\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xEF\xBF\xBF \xF4\x8F\xBF\xBF"sv,
     "\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xEF\xBF\xBF \xF4\x8F\xBF\xBF"sv},
    // The example of maximal subparts in the Unicode standard's chapter 3.
    {"maximal_subparts",
     "a\xF1\x80\x80\xE1\x80\xC2"
     "b\x80"
     "c\x80\xBF"
     "d"sv,
     "a???b?c??d"sv},
    {"encoded_surrogate", "\xED\xA0\x80"sv, "???"sv},
    {"overlong_two_bytes", "\xC0\xAF"sv, "??"sv},
    {"overlong_three_bytes", "\xE0\x80\xAF"sv, "???"sv},
    {"overlong_four_bytes", "\xF0\x80\x80\xAF"sv, "????"sv},
    {"beyond_u10ffff", "\xF4\x90\x80\x80"sv, "????"sv},
    {"lead_f5", "\xF5"sv, "?"sv},
    {"cut_short_at_end", "x\xE2\x82"sv, "x?"sv},
    {"cut_short_before_ascii", "\xF0\x9F\x98x"sv, "?x"sv},
    {"lone_continuations", "\x80\xBF"sv, "??"sv},
};

class Utf8Lossy : public ::testing::TestWithParam<LossyCase> {};

TEST_P(Utf8Lossy, ReplacesEachMaximalSubpart) {
    const LossyCase& c = GetParam();
    EXPECT_EQ(utf8_lossy(c.bytes), with_replacements(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Binding, Utf8Lossy, ::testing::ValuesIn(lossy_cases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace morvanex::binding::testing
