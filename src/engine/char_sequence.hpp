#pragma once
// A candidate decoded into its characters. `code_points` holds one Unicode
// scalar value per character; cut position k (after the first k characters)
// lies at byte offset `boundaries[k]` of the UTF-8 text, so the piece from
// cut j to cut i is the byte range [boundaries[j], boundaries[i]).
// length() counts characters, as Python's len() does.
#include <cstddef>
#include <string_view>
#include <vector>

namespace morvanex {

inline bool is_utf8_continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// The number of characters in valid UTF-8 text.
inline std::size_t decoded_length(std::string_view utf8) {
    std::size_t count = 0;
    for (char byte : utf8) count += !is_utf8_continuation(byte);
    return count;
}

struct CharSequence {
    std::string_view utf8;
    std::vector<char32_t> code_points;
    std::vector<std::size_t> boundaries;  // length() + 1 entries, first 0, last utf8.size()

    std::size_t length() const { return code_points.size(); }
    std::string_view piece(std::size_t from, std::size_t to) const {
        return utf8.substr(boundaries[from], boundaries[to] - boundaries[from]);
    }
};

// Decodes `utf8` (valid UTF-8, owned by the caller and viewed, not copied)
// into `out`, reusing `out`'s storage.
void decode_into(std::string_view utf8, CharSequence& out);

}  // namespace morvanex
