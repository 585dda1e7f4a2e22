#include "char_sequence.hpp"

namespace morvanex {

void decode_into(std::string_view utf8, CharSequence& out) {
    std::vector<char32_t>& code_points = out.code_points;
    code_points.resize(utf8.size());  // never fewer bytes than characters
    auto byte = [&](std::size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(utf8[k])); };
    std::size_t count = 0;
    for (std::size_t k = 0; k < utf8.size();) {
        char32_t lead = byte(k);
        std::size_t width = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        if (k + width > utf8.size()) {  // cut short: cannot come from Python, but never read past the end
            code_points[count++] = lead;
            k += 1;
        } else if (lead < 0x80) {
            code_points[count++] = lead;
            k += 1;
        } else if (lead < 0xE0) {
            code_points[count++] = ((lead & 0x1F) << 6) | (byte(k + 1) & 0x3F);
            k += 2;
        } else if (lead < 0xF0) {
            code_points[count++] = ((lead & 0x0F) << 12) | ((byte(k + 1) & 0x3F) << 6) | (byte(k + 2) & 0x3F);
            k += 3;
        } else {
            code_points[count++] = ((lead & 0x07) << 18) | ((byte(k + 1) & 0x3F) << 12) |
                                   ((byte(k + 2) & 0x3F) << 6) | (byte(k + 3) & 0x3F);
            k += 4;
        }
    }
    code_points.resize(count);
}

}  // namespace morvanex
