#pragma once
// Counting short strings over a word list: every substring of up to some
// number of characters, or the prefixes and suffixes of the words. Each count
// packs the characters of every counted string into a 64-bit key, made in one
// pass over the text, sorts the keys, and walks them once in byte order, in
// which strings that share a beginning are neighbours: no hash table, no read
// of the text out of order while the keys hold the strings whole, and no copy
// of a string until it is counted.
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "interruption.hpp"
#include "string_list.hpp"

namespace morvanex {

// Distinct strings, each with how many times it was found.
struct CountedStrings {
    StringList strings;
    std::vector<std::uint64_t> counts;
};

// Every substring of 1 to `max_chars` characters of every word, with its
// number of occurrences over all of them, in byte order (which for UTF-8 is
// code point order).
CountedStrings substring_counts(const StringList& words, std::size_t max_chars, Interruption& interruption);

// (prefixes, suffixes): for each length from 1 to `max_chars` characters, the
// prefix and the suffix of that length of every word longer than that, with
// how many words have it. Prefixes come in byte order, suffixes in the byte
// order of their characters read from the end.
std::pair<CountedStrings, CountedStrings> affix_counts(const StringList& words, std::size_t max_chars,
                                                       Interruption& interruption);

}  // namespace morvanex
