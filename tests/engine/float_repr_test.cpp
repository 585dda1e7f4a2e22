#include "float_repr.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

namespace morvanex::testing {
namespace {

struct ReprCase {
    std::uint64_t bits;
    const char* text;  // what CPython's repr() gives for the double of these bits
};

std::string repr_of_bits(std::uint64_t bits) {
    std::string text = "[";  // appended to what is there
    append_float_repr(text, std::bit_cast<double>(bits));
    return text.substr(1);
}

class FloatRepr : public ::testing::TestWithParam<ReprCase> {};

TEST_P(FloatRepr, WritesWhatReprWrites) { EXPECT_EQ(repr_of_bits(GetParam().bits), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(
    Layout, FloatRepr,
    ::testing::Values(
        // Fixed notation from 4 places before the first digit up to 16 digits before the point.
        ReprCase{0x3F1A36E2EB1C432Du, "0.0001"}, ReprCase{0x3EE4F8B588E368F1u, "1e-05"},
        ReprCase{0xBEEF75104D551D69u, "-1.5e-05"}, ReprCase{0x3F202E4B6CE5DC68u, "0.00012345"},
        ReprCase{0x3FF0000000000000u, "1.0"}, ReprCase{0x4000000000000000u, "2.0"},
        ReprCase{0xC004000000000000u, "-2.5"}, ReprCase{0x405EDD2F1A9FBE77u, "123.456"},
        ReprCase{0x430C6BF526340000u, "1000000000000000.0"}, ReprCase{0x430C6BF52633FFFFu, "999999999999999.9"},
        ReprCase{0x4341C37937E07FFFu, "9999999999999998.0"}, ReprCase{0x4341C37937E08000u, "1e+16"},
        ReprCase{0x4345EE2A2EB5A5C4u, "1.2345678901234568e+16"}, ReprCase{0x447C7E83209E90B2u, "8.41e+21"},
        ReprCase{0x54B249AD2594C37Du, "1e+100"}, ReprCase{0x2B2BFF2EE48E0530u, "1e-100"}));

INSTANTIATE_TEST_SUITE_P(Digits, FloatRepr,
                         ::testing::Values(ReprCase{0x3FB999999999999Au, "0.1"}, ReprCase{0x3FD3333333333333u, "0.3"},
                                           ReprCase{0x3FD5555555555555u, "0.3333333333333333"},
                                           ReprCase{0x3FE5555555555555u, "0.6666666666666666"},
                                           ReprCase{0x44B52D02C7E14AF6u, "1e+23"},
                                           ReprCase{0x4340000000000000u, "9007199254740992.0"},
                                           // Halfway between the two shortest candidates: the even one.
                                           ReprCase{0x4310000000000001u, "1125899906842624.2"},
                                           ReprCase{0x4310000000000003u, "1125899906842624.8"},
                                           // Powers of two, whose lower neighbour is twice as near.
                                           ReprCase{0x39D0000000000000u, "3.1554436208840472e-30"},
                                           ReprCase{0x39E0000000000000u, "6.310887241768095e-30"}));

INSTANTIATE_TEST_SUITE_P(Extremes, FloatRepr,
                         ::testing::Values(ReprCase{0x0000000000000000u, "0.0"}, ReprCase{0x8000000000000000u, "-0.0"},
                                           ReprCase{0x0000000000000001u, "5e-324"},
                                           ReprCase{0x8000000000000002u, "-1e-323"},
                                           ReprCase{0x0000000000000003u, "1.5e-323"},
                                           ReprCase{0x000FFFFFFFFFFFFFu, "2.225073858507201e-308"},
                                           ReprCase{0x0010000000000000u, "2.2250738585072014e-308"},
                                           ReprCase{0x7FEFFFFFFFFFFFFFu, "1.7976931348623157e+308"},
                                           ReprCase{0x7FF0000000000000u, "inf"}, ReprCase{0xFFF0000000000000u, "-inf"},
                                           ReprCase{0x7FF8000000000000u, "nan"}, ReprCase{0xFFF8000000000001u, "nan"},
                                           ReprCase{0x7FF0000000000001u, "nan"}));

}  // namespace
}  // namespace morvanex::testing
