#include "key_sort.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>

namespace morvanex {
namespace {

// No more than this many keys are sorted by comparing them.
constexpr std::size_t compared = 64;
constexpr int widest_digit = 11;

// Where each part begins, by digit, and where the last one ends.
using PartBegins = std::array<std::uint32_t, (std::size_t{1} << widest_digit) + 1>;

// Moves `keys` to `spare`, in parts by their digits of `digit_bits` bits at
// `shift`, and returns where each part begins.
void spread(std::span<const std::uint64_t> keys, std::span<std::uint64_t> spare, int shift, int digit_bits,
            PartBegins& part_begin, WorkMeter& meter) {
    const std::uint64_t digit_mask = (std::uint64_t{1} << digit_bits) - 1;
    auto digit_of = [&](std::uint64_t key) { return static_cast<std::size_t>((key >> shift) & digit_mask); };
    const std::size_t parts = std::size_t{1} << digit_bits;
    std::fill_n(part_begin.begin(), parts + 1, std::uint32_t{0});
    meter.count_each(0, keys.size(), [&](std::size_t k) { ++part_begin[digit_of(keys[k]) + 1]; });
    for (std::size_t d = 1; d <= parts; ++d) part_begin[d] += part_begin[d - 1];
    std::array<std::uint32_t, std::size_t{1} << widest_digit> next_free;
    std::copy_n(part_begin.begin(), parts, next_free.begin());
    meter.count_each(0, keys.size(), [&](std::size_t k) { spare[next_free[digit_of(keys[k])]++] = keys[k]; });
}

// Sorts `keys` into `keys` itself, or into `spare` (of the same size) with
// `into_spare`; either way the other one serves as the second buffer.
void sort_part(std::span<std::uint64_t> keys, std::span<std::uint64_t> spare, bool into_spare, int lowest_bit,
               WorkMeter& meter) {
    const std::span<std::uint64_t> result = into_spare ? spare : keys;
    auto leave_in_place = [&] {
        if (into_spare) std::copy(keys.begin(), keys.end(), spare.begin());
    };
    if (keys.size() <= compared) {
        meter.count(keys.size());
        leave_in_place();
        std::sort(result.begin(), result.end());
        return;
    }
    std::uint64_t in_any = 0, in_all = ~std::uint64_t{0};
    meter.count_each(0, keys.size(), [&](std::size_t k) {
        in_any |= keys[k];
        in_all &= keys[k];
    });
    const std::uint64_t differing = (in_any & ~in_all) & (~std::uint64_t{0} << lowest_bit);
    if (differing == 0) {  // equal keys
        leave_in_place();
        return;
    }
    // Wide digits for many keys, narrow ones where clearing the counts
    // would cost more than the pass.
    const int digit_bits = keys.size() >= 4096 ? widest_digit : 8;
    const int shift = std::max(64 - std::countl_zero(differing) - digit_bits, lowest_bit);
    PartBegins part_begin;
    spread(keys, spare, shift, digit_bits, part_begin, meter);
    // The keys are in `spare` now, each part to be sorted into `result`.
    for (std::size_t d = 0; d < (std::size_t{1} << digit_bits); ++d) {
        const std::size_t begin = part_begin[d], size = part_begin[d + 1] - begin;
        if (size == 0) continue;
        if (shift == lowest_bit || size == 1) {
            if (!into_spare)
                std::copy_n(spare.begin() + static_cast<std::ptrdiff_t>(begin), size,
                            keys.begin() + static_cast<std::ptrdiff_t>(begin));
            continue;
        }
        sort_part(spare.subspan(begin, size), keys.subspan(begin, size), !into_spare, lowest_bit, meter);
    }
}

}  // namespace

void sort_keys_into(std::span<std::uint64_t> keys, std::span<std::uint64_t> sorted, int lowest_bit, WorkMeter& meter) {
    assert(keys.size() == sorted.size() && keys.size() < UINT32_MAX);
    sort_part(keys, sorted, true, lowest_bit, meter);
}

}  // namespace morvanex
