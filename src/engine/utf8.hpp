#pragma once
// Reading and writing UTF-8, the one encoding of every engine string. The
// engine only holds valid UTF-8 (the binding encodes every string it copies),
// so nothing here validates.
#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace morvanex {

inline bool is_utf8_continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// The number of characters in `utf8`.
inline std::size_t decoded_length(std::string_view utf8) {
    std::size_t count = 0;
    for (char byte : utf8) count += !is_utf8_continuation(byte);
    return count;
}

// Where character `chars` of `utf8` begins (utf8.size() past the last).
inline std::size_t byte_offset_of(std::string_view utf8, std::size_t chars) {
    std::size_t byte = 0;
    for (std::size_t seen = 0; byte < utf8.size(); ++byte)
        if (!is_utf8_continuation(utf8[byte]) && seen++ == chars) break;
    return byte;
}

struct DecodedChar {
    char32_t code_point;
    std::uint32_t width;  // in bytes
};

// The character that begins at `bytes`, reading at most `available` (> 0)
// bytes: a character cut short, which valid text never holds, reads as its
// first byte alone.
inline DecodedChar decode_char(const unsigned char* bytes, std::size_t available) {
    assert(available > 0);
    char32_t lead = bytes[0];
    if (lead < 0x80) return {lead, 1};
    std::uint32_t width = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (width > available) return {lead, 1};
    char32_t c = lead & (width == 2 ? 0x1F : width == 3 ? 0x0F : 0x07);
    for (std::uint32_t k = 1; k < width; ++k) c = (c << 6) | (bytes[k] & 0x3F);
    return {c, width};
}

struct EncodedChar {
    std::array<char, 4> bytes;
    std::uint32_t width;  // of `bytes` used
};

// The UTF-8 bytes of `code_point` (at most U+10FFFF).
inline EncodedChar encode_char(char32_t code_point) {
    auto byte = [](char32_t bits) { return static_cast<char>(static_cast<unsigned char>(bits)); };
    auto tail = [&](int shift) { return byte(0x80 | ((code_point >> shift) & 0x3F)); };
    if (code_point < 0x80) return {{byte(code_point)}, 1};
    if (code_point < 0x800) return {{byte(0xC0 | (code_point >> 6)), tail(0)}, 2};
    if (code_point < 0x10000) return {{byte(0xE0 | (code_point >> 12)), tail(6), tail(0)}, 3};
    return {{byte(0xF0 | (code_point >> 18)), tail(12), tail(6), tail(0)}, 4};
}

}  // namespace morvanex
