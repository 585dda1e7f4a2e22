#pragma once
// Doubles as Python's repr() writes them, for the files the companion module
// writes: the shortest decimal that reads back as the same double, found with
// fixed-size integer arithmetic (Schubfach: the rounding interval scaled by a
// 126-bit power of ten), with no allocation beyond the string's growth.
#include <string>

namespace morvanex {

// Appends `value` as repr(value) gives it: the shortest digits that round
// back to `value` (the nearest of them to it, the even one on a tie), in
// fixed notation when the decimal point falls within 4 places before the
// first digit to 16 places after it ("0.0001", "2.0", "1000000000000000.0"),
// else in scientific notation ("1e-05", "1e+16", "5e-324"); "-0.0", "inf",
// "-inf", and "nan" for every NaN.
void append_float_repr(std::string& out, double value);

}  // namespace morvanex
