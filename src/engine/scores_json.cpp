#include "scores_json.hpp"

#include <algorithm>
#include <cstdint>

#include "utf8.hpp"

namespace morvanex {
namespace {

bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The value of a hex digit, or -1.
int hex_digit(char c) {
    if (is_digit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Whether the UTF-8 sequence that starts `bytes` is one that a strict
// decoder accepts (no overlong forms, surrogates or code points past
// U+10FFFF), and how many bytes it takes; 0 when it is not.
std::size_t valid_sequence_width(const unsigned char* bytes, std::size_t available) {
    const unsigned char lead = bytes[0];
    if (lead < 0x80) return 1;
    auto in = [&](std::size_t k, unsigned char low, unsigned char high) {
        return k < available && bytes[k] >= low && bytes[k] <= high;
    };
    if (lead >= 0xC2 && lead <= 0xDF) return in(1, 0x80, 0xBF) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        const auto low = static_cast<unsigned char>(lead == 0xE0 ? 0xA0 : 0x80);
        const auto high = static_cast<unsigned char>(lead == 0xED ? 0x9F : 0xBF);
        return in(1, low, high) && in(2, 0x80, 0xBF) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const auto low = static_cast<unsigned char>(lead == 0xF0 ? 0x90 : 0x80);
        const auto high = static_cast<unsigned char>(lead == 0xF4 ? 0x8F : 0xBF);
        return in(1, low, high) && in(2, 0x80, 0xBF) && in(3, 0x80, 0xBF) ? 4 : 0;
    }
    return 0;
}

// A cursor over the text that reads the pieces of the object, each reader
// returning false with `error` set at the first byte that does not fit.
class JsonReader {
public:
    JsonReader(std::string_view text, std::size_t at) : text_(text), at_(at) {}

    std::size_t at() const { return at_; }
    const std::string& error() const { return error_; }

    void skip_space() {
        while (at_ < text_.size() && is_json_space(text_[at_])) ++at_;
    }

    bool take(char c) {
        if (at_ >= text_.size() || text_[at_] != c) return false;
        ++at_;
        return true;
    }

    bool expect(char c, std::string_view what) { return take(c) || fail(what); }

    // A string, unescaped into `out`; at its opening quote.
    bool read_string(std::string& out) {
        if (!expect('"', "expected a string key in double quotes")) return false;
        const auto* bytes = reinterpret_cast<const unsigned char*>(text_.data());
        std::size_t run = at_;
        while (at_ < text_.size()) {
            const unsigned char byte = bytes[at_];
            if (byte >= 0x80) {
                std::size_t width = valid_sequence_width(bytes + at_, text_.size() - at_);
                if (width == 0) return fail("invalid UTF-8 in a string");
                at_ += width;
                continue;
            }
            if (byte != '"' && byte != '\\' && byte >= 0x20) {
                ++at_;
                continue;
            }
            out.append(text_, run, at_ - run);
            if (byte < 0x20) return fail("control character in a string");
            ++at_;
            if (byte == '"') return true;
            if (!read_escape(out)) return false;
            run = at_;
        }
        return fail("unterminated string");
    }

    // A number as JSON writes one, or NaN, Infinity or -Infinity, as its text.
    bool read_number(std::string_view& out) {
        const std::size_t begin = at_;
        for (std::string_view word : {"NaN", "Infinity", "-Infinity"}) {
            if (text_.substr(at_, word.size()) == word) {
                at_ += word.size();
                out = word;
                return true;
            }
        }
        take('-');
        if (!take('0')) {
            if (!skip_digits()) return fail("expected a number");
        }
        if (take('.') && !skip_digits()) return fail("expected a digit after the decimal point");
        if (take('e') || take('E')) {
            if (!take('+')) take('-');
            if (!skip_digits()) return fail("expected a digit in the exponent");
        }
        out = text_.substr(begin, at_ - begin);
        return true;
    }

private:
    bool fail(std::string_view what) {
        error_ = std::string(what) + " at byte " + std::to_string(at_);
        return false;
    }

    bool skip_digits() {
        const std::size_t begin = at_;
        while (at_ < text_.size() && is_digit(text_[at_])) ++at_;
        return at_ > begin;
    }

    // Four hex digits of a \u escape.
    bool read_code_unit(char32_t& unit) {
        if (text_.size() - at_ < 4) return fail("expected four hex digits");
        unit = 0;
        for (int k = 0; k < 4; ++k, ++at_) {
            const int digit = hex_digit(text_[at_]);
            if (digit < 0) return fail("expected four hex digits");
            unit = unit * 16 + static_cast<char32_t>(digit);
        }
        return true;
    }

    // The escape after a backslash.
    bool read_escape(std::string& out) {
        if (at_ >= text_.size()) return fail("unterminated string");
        const char kind = text_[at_++];
        switch (kind) {
            case '"': out.push_back('"'); return true;
            case '\\': out.push_back('\\'); return true;
            case '/': out.push_back('/'); return true;
            case 'b': out.push_back('\b'); return true;
            case 'f': out.push_back('\f'); return true;
            case 'n': out.push_back('\n'); return true;
            case 'r': out.push_back('\r'); return true;
            case 't': out.push_back('\t'); return true;
            case 'u': break;
            default: --at_; return fail("invalid escape");
        }
        char32_t unit = 0;
        if (!read_code_unit(unit)) return false;
        if (unit >= 0xDC00 && unit <= 0xDFFF) return fail("lone surrogate");
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            char32_t low = 0;
            if (!take('\\') || !take('u') || !read_code_unit(low) || low < 0xDC00 || low > 0xDFFF)
                return fail("lone surrogate");
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
        const EncodedChar encoded = encode_char(unit);
        out.append(encoded.bytes.data(), encoded.width);
        return true;
    }

    std::string_view text_;
    std::size_t at_;
    std::string error_;
};

}  // namespace

ScoresJson read_scores_json(std::string_view text, std::size_t start, Interruption& interruption,
                            const InsertedStrings* wanted) {
    ScoresJson scores;
    WorkMeter meter(&interruption);
    std::vector<std::string_view> wanted_in_byte_order;
    if (wanted != nullptr)
        for (std::uint32_t position : wanted->members_in_byte_order(1, &interruption))
            wanted_in_byte_order.push_back((*wanted)[position]);
    auto kept = [&](std::string_view key) {
        return wanted == nullptr || std::binary_search(wanted_in_byte_order.begin(), wanted_in_byte_order.end(), key);
    };
    JsonReader reader(text, start);
    std::string key;
    std::string_view number;
    auto read_members = [&] {
        reader.skip_space();
        if (!reader.expect('{', "expected '{'")) return false;
        reader.skip_space();
        if (reader.take('}')) return true;
        for (;;) {
            key.clear();
            reader.skip_space();
            if (!reader.read_string(key)) return false;
            reader.skip_space();
            if (!reader.expect(':', "expected ':'")) return false;
            reader.skip_space();
            if (!reader.read_number(number)) return false;
            if (kept(key)) {
                scores.keys.add(key);
                scores.numbers.push_back(number);
            }
            meter.count(1);
            reader.skip_space();
            if (reader.take('}')) return true;
            if (!reader.expect(',', "expected ',' or '}'")) return false;
        }
    };
    if (read_members())
        scores.end = reader.at();
    else
        scores.error = reader.error();
    return scores;
}

}  // namespace morvanex
