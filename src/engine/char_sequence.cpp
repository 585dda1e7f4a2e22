#include "char_sequence.hpp"

#include "utf8.hpp"

namespace morvanex {

void decode_into(std::string_view utf8, CharSequence& out) {
    std::vector<char32_t>& code_points = out.code_points;
    code_points.resize(utf8.size());  // never fewer bytes than characters
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    std::size_t count = 0;
    for (std::size_t k = 0; k < utf8.size();) {
        if (bytes[k] < 0x80) {  // most characters of most words
            code_points[count++] = bytes[k++];
            continue;
        }
        DecodedChar c = decode_char(bytes + k, utf8.size() - k);
        code_points[count++] = c.code_point;
        k += c.width;
    }
    code_points.resize(count);
}

}  // namespace morvanex
