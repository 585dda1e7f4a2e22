#include "char_sequence.hpp"

namespace morvanex {

void decode_into(std::string_view utf8, CharSequence& out) {
    out.utf8 = utf8;
    out.code_points.clear();
    out.boundaries.clear();
    auto byte = [&](std::size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(utf8[k])); };
    for (std::size_t k = 0; k < utf8.size();) {
        out.boundaries.push_back(k);
        char32_t lead = byte(k);
        if (lead < 0x80) {
            out.code_points.push_back(lead);
            k += 1;
        } else if (lead < 0xE0) {
            out.code_points.push_back(((lead & 0x1F) << 6) | (byte(k + 1) & 0x3F));
            k += 2;
        } else if (lead < 0xF0) {
            out.code_points.push_back(((lead & 0x0F) << 12) | ((byte(k + 1) & 0x3F) << 6) | (byte(k + 2) & 0x3F));
            k += 3;
        } else {
            out.code_points.push_back(((lead & 0x07) << 18) | ((byte(k + 1) & 0x3F) << 12) |
                                      ((byte(k + 2) & 0x3F) << 6) | (byte(k + 3) & 0x3F));
            k += 4;
        }
    }
    out.boundaries.push_back(utf8.size());
}

}  // namespace morvanex
