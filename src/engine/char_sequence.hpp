#pragma once
// A candidate decoded into its characters: one Unicode scalar value per
// character, so that positions and lengths count characters, as Python's
// len() does. Cut position k lies after the first k characters.
#include <cstddef>
#include <string_view>
#include <vector>

namespace morvanex {

struct CharSequence {
    std::vector<char32_t> code_points;

    std::size_t length() const { return code_points.size(); }
};

// Decodes valid UTF-8 into `out`, reusing `out`'s storage.
void decode_into(std::string_view utf8, CharSequence& out);

}  // namespace morvanex
