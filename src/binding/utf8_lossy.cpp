#include "utf8_lossy.hpp"

#include <cstddef>

namespace morvanex::binding {
namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";  // U+FFFD

// Length of the well-formed UTF-8 sequence at the start of `rest`, or of the
// maximal subpart of an ill-formed one (as a negative number, at least 1).
long sequence_length(std::string_view rest) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(rest[i]); };
    unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    long needed;
    unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        needed = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        needed = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        needed = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return -1;
    }
    for (long i = 1; i < needed; ++i) {
        if (static_cast<std::size_t>(i) >= rest.size()) return -i;
        unsigned char next = byte(static_cast<std::size_t>(i));
        unsigned char lo = i == 1 ? low : 0x80;
        unsigned char hi = i == 1 ? high : 0xBF;
        if (next < lo || next > hi) return -i;
    }
    return needed;
}

}  // namespace

std::string utf8_lossy(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        long length = sequence_length(bytes);
        if (length > 0) {
            out.append(bytes.substr(0, static_cast<std::size_t>(length)));
            bytes.remove_prefix(static_cast<std::size_t>(length));
        } else {
            out.append(replacement);
            bytes.remove_prefix(static_cast<std::size_t>(-length));
        }
    }
    return out;
}

}  // namespace morvanex::binding
