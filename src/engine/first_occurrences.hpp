#pragma once
// A list of strings without its repeats: the position where each distinct
// string first occurs, found by one byte-order sort instead of a hash lookup
// per string.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "interruption.hpp"
#include "string_list.hpp"

namespace morvanex {

// The positions of `strings` that hold a string no earlier position holds,
// in increasing order. Sorted on up to `threads` threads, each counting its
// work toward `interruption`.
std::vector<std::uint32_t> first_occurrences(const StringList& strings, std::size_t threads,
                                             Interruption& interruption);

}  // namespace morvanex
