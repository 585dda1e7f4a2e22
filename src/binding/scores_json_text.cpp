#include "scores_json_text.hpp"

#include <array>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "float_repr.hpp"

namespace morvanex::binding {

// The texts of recently written values, by their bits. A session's scores
// repeat their values: the initial frequencies of most substrings are a few
// thousand floats, so most entries find their text here instead of being
// formatted again.
class ScoresJsonText::ReprCache {
public:
    void append(std::string& out, double value) {
        const auto bits = std::bit_cast<std::uint64_t>(value);
        Slot& slot = slots_[(bits * 0x9E3779B97F4A7C15u) >> (64 - slot_bits)];
        if (slot.size == 0 || slot.bits != bits) {
            formatted_.clear();
            append_float_repr(formatted_, value);
            slot.bits = bits;
            slot.size = static_cast<std::uint8_t>(formatted_.size());
            std::memcpy(slot.text.data(), formatted_.data(), formatted_.size());
        }
        out.append(slot.text.data(), slot.size);
    }

private:
    static constexpr int slot_bits = 12;
    struct Slot {
        std::uint64_t bits = 0;
        std::uint8_t size = 0;        // 0: empty (no repr is empty)
        std::array<char, 31> text{};  // the longest repr has 24 characters
    };
    std::array<Slot, std::size_t{1} << slot_bits> slots_{};
    std::string formatted_;
};

namespace {

// Whether json escapes `byte` with ensure_ascii=False: every byte of a
// multi-byte UTF-8 sequence is written as it is.
bool needs_json_escape(char byte) {
    const auto code = static_cast<unsigned char>(byte);
    return code < 0x20 || byte == '"' || byte == '\\';
}

// The escape of a byte that needs one, as json writes it.
std::string_view json_escape(char byte, char (&numeric)[7]) {
    assert(needs_json_escape(byte));
    switch (byte) {
        case '"': return "\\\"";
        case '\\': return "\\\\";
        case '\n': return "\\n";
        case '\r': return "\\r";
        case '\t': return "\\t";
        case '\b': return "\\b";
        case '\f': return "\\f";
        default: break;
    }
    static constexpr char hex_digits[] = "0123456789abcdef";
    const auto code = static_cast<unsigned char>(byte);
    numeric[4] = hex_digits[code >> 4];
    numeric[5] = hex_digits[code & 0xf];
    return {numeric, 6};
}

// `text` (UTF-8) as a quoted JSON string; the runs between escapes are
// appended whole.
void append_json_string(std::string& out, std::string_view text) {
    char numeric[7] = "\\u00";
    out.push_back('"');
    std::size_t run = 0;
    for (std::size_t k = 0; k < text.size(); ++k) {
        if (!needs_json_escape(text[k])) continue;
        const std::string_view escape = json_escape(text[k], numeric);
        out.append(text, run, k - run);
        out.append(escape);
        run = k + 1;
    }
    out.append(text, run);
    out.push_back('"');
}

}  // namespace

ScoresJsonText::ScoresJsonText(BlockWriter& writer) : writer_(writer), cache_(std::make_unique<ReprCache>()) {
    writer_.text().push_back('{');
}

ScoresJsonText::~ScoresJsonText() = default;

Result<Done> ScoresJsonText::member(std::string_view key, double value) {
    std::string& text = writer_.text();
    if (!first_member_) text.push_back(',');
    first_member_ = false;
    append_json_string(text, key);
    text.push_back(':');
    // As json writes a float with allow_nan: repr() when finite.
    if (std::isnan(value))
        text.append("NaN");
    else if (std::isinf(value))
        text.append(value > 0 ? "Infinity" : "-Infinity");
    else
        cache_->append(text, value);
    return writer_.line_done();
}

Result<Done> ScoresJsonText::finish() {
    writer_.text().push_back('}');
    return writer_.flush();
}

}  // namespace morvanex::binding
