#include "float_repr.hpp"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace morvanex {
namespace {

// A double is c × 2^q: c below 2^53, q from q_min; normal ones have the
// hidden bit c_min set.
constexpr int q_min = -1074;
constexpr std::uint64_t c_min = std::uint64_t{1} << 52;

// floor(q log10 2), floor(log10(3/4 × 2^q)) and floor(e log2 10), exact for
// every exponent of a double.
constexpr int floor_log10_pow2(int q) { return (q * 315653) >> 20; }
constexpr int floor_log10_three_quarters_pow2(int q) { return (q * 315653 - 131237) >> 20; }
constexpr int floor_log2_pow10(int e) { return (e * 1741647) >> 19; }

// The powers 10^e that scale every double: e = -floor(log10 of its spacing).
constexpr int e_min = -floor_log10_pow2(971);    // the largest doubles' spacing
constexpr int e_max = -floor_log10_pow2(q_min);  // the subnormals'

struct Product192 {
    std::uint64_t low, middle, high;
};

struct Wide128 {
    std::uint64_t high, low;
};

// a × b in 32-bit halves: the same on every compiler, with or without a
// 128-bit type.
Wide128 multiply_wide(std::uint64_t a, std::uint64_t b) {
    constexpr std::uint64_t half = 0xFFFFFFFFu;
    const std::uint64_t low_low = (a & half) * (b & half);
    const std::uint64_t high_low = (a >> 32) * (b & half);
    const std::uint64_t low_high = (a & half) * (b >> 32);
    const std::uint64_t high_high = (a >> 32) * (b >> 32);
    const std::uint64_t cross = (low_low >> 32) + (high_low & half) + low_high;  // cannot overflow
    return {high_high + (high_low >> 32) + (cross >> 32), (cross << 32) | (low_low & half)};
}

// g = floor(10^e × 2^(125 - floor(e log2 10))) + 1, in [2^125, 2^126]: 10^e
// with 126 significant bits, rounded up.
using ScaledPower = Wide128;

// An unsigned integer wide enough for 2^1279 and 10^e_max, worked on only
// while the table is built.
class BigNumber {
public:
    static constexpr int bits = 1280;

    explicit BigNumber(int power_of_two) {
        limb_[static_cast<std::size_t>(power_of_two / 32)] = 1u << (power_of_two % 32);
    }

    void multiply(std::uint32_t factor) {
        std::uint64_t carry = 0;
        for (std::uint32_t& limb : limb_) {
            carry += std::uint64_t{limb} * factor;
            limb = static_cast<std::uint32_t>(carry);
            carry >>= 32;
        }
    }

    // Floor division: floor(floor(x / a) / b) = floor(x / (a b)).
    void divide(std::uint32_t divisor) {
        std::uint64_t remainder = 0;
        for (auto limb = limb_.rbegin(); limb != limb_.rend(); ++limb) {
            remainder = (remainder << 32) | *limb;
            *limb = static_cast<std::uint32_t>(remainder / divisor);
            remainder %= divisor;
        }
    }

    // floor(this / 2^position) + 1, of which only the low 128 bits are kept;
    // `position` may be negative.
    ScaledPower shifted_up_by_one(int position) const {
        auto bits_from = [&](int start) {
            std::uint64_t word = 0;
            for (int k = 63; k >= 0; --k) word = (word << 1) | bit(start + k);
            return word;
        };
        ScaledPower power{bits_from(position + 64), bits_from(position) + 1};
        if (power.low == 0) ++power.high;
        return power;
    }

private:
    std::uint64_t bit(int position) const {
        if (position < 0 || position >= bits) return 0;
        return (limb_[static_cast<std::size_t>(position / 32)] >> (position % 32)) & 1u;
    }

    std::array<std::uint32_t, bits / 32> limb_{};
};

using PowerTable = std::array<ScaledPower, static_cast<std::size_t>(e_max - e_min + 1)>;

// Exact: 10^e for e >= 0, floor(2^1279 / 10^-e) for e < 0, then the top 126
// bits of each.
PowerTable make_power_table() {
    PowerTable table{};
    auto slot = [&](int e) -> ScaledPower& { return table[static_cast<std::size_t>(e - e_min)]; };
    BigNumber power(0);
    for (int e = 0; e <= e_max; ++e) {
        slot(e) = power.shifted_up_by_one(floor_log2_pow10(e) - 125);
        power.multiply(10);
    }
    constexpr int top = BigNumber::bits - 1;
    BigNumber reciprocal(top);
    for (int e = -1; e >= e_min; --e) {
        reciprocal.divide(10);
        slot(e) = reciprocal.shifted_up_by_one(top + floor_log2_pow10(e) - 125);
    }
    return table;
}

const ScaledPower& scaled_power(int e) {
    static const PowerTable table = make_power_table();
    return table[static_cast<std::size_t>(e - e_min)];
}

// g × x as 192 bits.
Product192 multiply(const ScaledPower& g, std::uint64_t x) {
    const Wide128 low = multiply_wide(g.low, x);
    const Wide128 high = multiply_wide(g.high, x);
    const std::uint64_t middle = low.high + high.low;
    return {low.low, middle, high.high + (middle < low.high ? 1u : 0u)};
}

// g × 2^shift, for shift in [1, 63].
Product192 shifted(const ScaledPower& g, int shift) {
    return {g.low << shift, (g.high << shift) | (g.low >> (64 - shift)), g.high >> (64 - shift)};
}

Product192 add(const Product192& a, const Product192& b) {
    const std::uint64_t low = a.low + b.low;
    const std::uint64_t carry_low = low < a.low ? 1u : 0u;
    const std::uint64_t middle = a.middle + b.middle + carry_low;
    const std::uint64_t carry_middle = (middle < a.middle || (carry_low != 0 && middle == a.middle)) ? 1u : 0u;
    return {low, middle, a.high + b.high + carry_middle};
}

Product192 subtract(const Product192& a, const Product192& b) {
    const std::uint64_t low = a.low - b.low;
    const std::uint64_t borrow_low = a.low < b.low ? 1u : 0u;
    const std::uint64_t middle = a.middle - b.middle - borrow_low;
    const std::uint64_t borrow_middle = (a.middle < b.middle || (borrow_low != 0 && a.middle == b.middle)) ? 1u : 0u;
    return {low, middle, a.high - b.high - borrow_middle};
}

// floor(product / 2^127), odd when bits 64..126 are not all zero. g's excess
// over the exact power makes a whole quotient show a small remainder, below
// bit 64; a fractional one is never that close to a whole number.
std::uint64_t round_to_odd(const Product192& product) {
    return (product.high << 1) | (product.middle >> 63) | ((product.middle << 1) != 0 ? 1u : 0u);
}

struct Decimal {
    std::uint64_t digits;  // below 10^17
    int exponent;          // value = digits × 10^exponent
};

// The shortest decimal in the interval of reals that round to c × 2^q (c >
// 0), the nearest of two such to it, the even one on a tie. The interval's
// ends, half way to the neighbouring doubles, belong to it when c is even;
// below a power of two the neighbour is twice as near.
Decimal shortest_decimal(std::uint64_t c, int q) {
    const std::uint64_t ends_excluded = c & 1;
    const bool nearer_below = c == c_min && q != q_min;
    // In quarters of 2^q: the double, and its interval's half widths.
    const std::uint64_t quarters = c << 2;
    const int k = nearer_below ? floor_log10_three_quarters_pow2(q) : floor_log10_pow2(q);
    // Scaled by 10^-k (the spacing 2^q is in [10^k, 10^(k+1))), with two
    // fraction bits and a sticky bit: 4 c 2^q 10^-k = g × (4c << h) / 2^127.
    const int h = q + floor_log2_pow10(-k) + 2;
    const ScaledPower& g = scaled_power(-k);
    const Product192 middle = multiply(g, quarters << h);
    const std::uint64_t scaled = round_to_odd(middle);
    const std::uint64_t scaled_lower = round_to_odd(subtract(middle, shifted(g, nearer_below ? h : h + 1)));
    const std::uint64_t scaled_upper = round_to_odd(add(middle, shifted(g, h + 1)));
    auto in_interval = [&](std::uint64_t candidate) {
        return scaled_lower + ends_excluded <= candidate << 2 && (candidate << 2) + ends_excluded <= scaled_upper;
    };

    // The interval is narrower than 10^(k+1): it holds at most one multiple
    // of it, which then is the shortest.
    const std::uint64_t below = scaled >> 2;
    const std::uint64_t tens_below = below / 10 * 10;
    const bool tens_below_in = in_interval(tens_below);
    if (tens_below_in != in_interval(tens_below + 10)) return {tens_below_in ? tens_below : tens_below + 10, k};
    // Else it holds at least one multiple of 10^k, next to the double.
    const std::uint64_t above = below + 1;
    const bool below_in = in_interval(below);
    if (below_in != in_interval(above)) return {below_in ? below : above, k};
    const std::uint64_t midpoint = (below + above) << 1;
    const bool take_below = scaled < midpoint || (scaled == midpoint && (below & 1) == 0);
    return {take_below ? below : above, k};
}

// The two digits of n < 100 at digit_pairs[2n].
constexpr std::array<char, 200> make_digit_pairs() {
    std::array<char, 200> pairs{};
    for (int n = 0; n < 100; ++n) {
        pairs[static_cast<std::size_t>(2 * n)] = static_cast<char>('0' + n / 10);
        pairs[static_cast<std::size_t>(2 * n + 1)] = static_cast<char>('0' + n % 10);
    }
    return pairs;
}
constexpr std::array<char, 200> digit_pairs = make_digit_pairs();

// Writes the digits of `value` (below 10^8) ending just before `end`,
// leading zeros to eight of them.
void write_eight_digits(std::uint32_t value, char* end) {
    for (int pair = 0; pair < 4; ++pair, value /= 100) std::memcpy(end -= 2, &digit_pairs[value % 100 * 2], 2);
}

// Writes the digits of `value` (> 0) ending just before `end`.
void write_digits(std::uint64_t value, char* end) {
    for (; value >= 100000000; value /= 100000000, end -= 8)
        write_eight_digits(static_cast<std::uint32_t>(value % 100000000), end);
    auto rest = static_cast<std::uint32_t>(value);
    for (; rest >= 100; rest /= 100) std::memcpy(end -= 2, &digit_pairs[rest % 100 * 2], 2);
    if (rest >= 10)
        std::memcpy(end - 2, &digit_pairs[rest * 2], 2);
    else
        end[-1] = static_cast<char>('0' + rest);
}

constexpr std::array<std::uint64_t, 18> make_powers_of_ten() {
    std::array<std::uint64_t, 18> powers{};
    powers[0] = 1;
    for (std::size_t k = 1; k < powers.size(); ++k) powers[k] = powers[k - 1] * 10;
    return powers;
}
constexpr std::array<std::uint64_t, 18> powers_of_ten = make_powers_of_ten();

// The number of decimal digits of `value` (0 < value < 10^17): about
// log10 2 times its bits, then one comparison.
int digit_count(std::uint64_t value) {
    const int guess = (static_cast<int>(std::bit_width(value)) * 1233) >> 12;
    return guess + (value >= powers_of_ten[static_cast<std::size_t>(guess)] ? 1 : 0);
}

// Writes digits × 10^exponent (digits > 0) at `out` as repr lays it out;
// returns the end. `out` has room for 40 bytes: zeros are stored in blocks,
// of which only the part wanted is kept, and the digits are written from
// their last, one place to the right of the first where a point follows it.
char* write_decimal(Decimal decimal, char* out) {
    auto drop_zeros = [&](std::uint64_t power, int zeros) {
        if (decimal.digits % power != 0) return false;
        decimal.digits /= power;
        decimal.exponent += zeros;
        return true;
    };
    // At most 16 trailing zeros.
    while (drop_zeros(100000000, 8)) {
    }
    drop_zeros(10000, 4);
    drop_zeros(100, 2);
    drop_zeros(10, 1);
    const int count = digit_count(decimal.digits);
    // The digits read as 0.d1d2...dn × 10^point.
    const int point = decimal.exponent + count;
    if (point > -4 && point <= 0) {  // "0.", up to three zeros, the digits
        std::memcpy(out, "0.000", 5);
        char* const end = out + 2 - point + count;
        write_digits(decimal.digits, end);
        return end;
    }
    if (point > 0 && point < count) {  // the digits with a point among them
        char* const end = out + 1 + count;
        write_digits(decimal.digits, end);
        for (int k = 0; k < point; ++k) out[k] = out[k + 1];
        out[point] = '.';
        return end;
    }
    if (point >= count && point <= 16) {  // the digits, zeros, ".0"
        std::memcpy(out + count, "0000000000000000", 16);
        write_digits(decimal.digits, out + count);
        std::memcpy(out + point, ".0", 2);
        return out + point + 2;
    }
    // Scientific: the first digit, the others after a point if any.
    write_digits(decimal.digits, out + 1 + count);
    out[0] = out[1];
    out[1] = '.';
    out += count > 1 ? 1 + count : 1;
    const int exponent = point - 1;
    std::memcpy(out, exponent < 0 ? "e-" : "e+", 2);
    out += 2;
    const unsigned magnitude = static_cast<unsigned>(exponent < 0 ? -exponent : exponent);
    if (magnitude >= 100) *out++ = static_cast<char>('0' + magnitude / 100);
    std::memcpy(out, &digit_pairs[magnitude % 100 * 2], 2);
    return out + 2;
}

}  // namespace

void append_float_repr(std::string& out, double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const std::uint64_t fraction = bits & (c_min - 1);
    const auto biased_exponent = static_cast<int>((bits >> 52) & 0x7FF);
    if (biased_exponent == 0x7FF) {
        if (fraction != 0)
            out.append("nan");
        else
            out.append(bits >> 63 != 0 ? "-inf" : "inf");
        return;
    }
    char text[41];
    char* end = text;
    if (bits >> 63 != 0) *end++ = '-';
    if (biased_exponent == 0 && fraction == 0) {
        std::memcpy(end, "0.0", 3);
        end += 3;
    } else if (biased_exponent == 0) {
        end = write_decimal(shortest_decimal(fraction, q_min), end);
    } else {
        end = write_decimal(shortest_decimal(fraction | c_min, biased_exponent - 1 + q_min), end);
    }
    out.append(text, static_cast<std::size_t>(end - text));
}

}  // namespace morvanex
