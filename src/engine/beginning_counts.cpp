#include "beginning_counts.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <span>
#include <string>
#include <string_view>

#include "internal_failure.hpp"
#include "key_sort.hpp"
#include "utf8.hpp"

namespace morvanex {
namespace {

// Ends each text in the joined bytes: no UTF-8 text holds it.
constexpr char text_end = '\xFF';

bool begins_char(char byte) { return !is_utf8_continuation(byte); }

// Texts back to back in one string, each followed by text_end. A counted
// string begins at every character of a text, or only at its first; each is
// counted by its first 1 to max_chars characters, as far as its text goes.
struct Beginnings {
    std::string joined;
    bool every_char = true;

    void end_text() {
        joined.push_back(text_end);
        if (joined.size() >= UINT32_MAX) throw InternalFailure(failure_text::capacity_overflow);
    }
};

// The characters of `text` in reverse order.
void append_reversed(std::string_view text, std::string& out) {
    for (std::size_t end = text.size(); end > 0;) {
        std::size_t begin = end - 1;
        while (!begins_char(text[begin])) --begin;
        out.append(text.substr(begin, end - begin));
        end = begin;
    }
}

// Where the last `count` characters of `text` begin (at 0 if it has fewer).
std::size_t last_chars_begin(std::string_view text, std::size_t count) {
    std::size_t begin = text.size();
    for (std::size_t chars = 0; chars < count && begin > 0; ++chars) {
        --begin;
        while (!begins_char(text[begin])) --begin;
    }
    return begin;
}

// The characters of the texts, ranked from 1 in code point order, so that
// ranks compare as the characters' bytes do; rank 0 stands for the end of a
// text, which comes before any character.
struct Alphabet {
    std::vector<std::uint32_t> rank_of;       // by code point, up to the largest present
    std::vector<EncodedChar> char_of;         // by rank
    std::vector<std::size_t> beginning_with;  // by rank: the counted strings that begin with it
    std::size_t longest_text = 0;             // in characters

    std::size_t size() const { return char_of.size() - 1; }
};

Alphabet alphabet_of(const Beginnings& beginnings, WorkMeter& meter) {
    const std::string& joined = beginnings.joined;
    const auto* bytes = reinterpret_cast<const unsigned char*>(joined.data());
    // By code point, up to the largest seen: how often each character occurs,
    // and how many texts begin with it.
    std::vector<std::uint32_t> occurrences(0x80, 0), text_starts;
    auto add = [](std::vector<std::uint32_t>& tally, char32_t code_point) {
        if (code_point >= tally.size()) tally.resize(code_point + std::size_t{1}, 0);
        ++tally[code_point];
    };
    Alphabet alphabet;
    for (std::size_t text = 0; text < joined.size();) {
        std::size_t at = text, chars = 0;
        for (; joined[at] != text_end; ++chars) {
            meter.count(1);
            if (bytes[at] < 0x80) {  // most text
                ++occurrences[bytes[at++]];
                continue;
            }
            const DecodedChar read = decode_char(bytes + at, joined.size() - at);
            add(occurrences, read.code_point);
            at += read.width;
        }
        if (!beginnings.every_char && chars > 0) add(text_starts, decode_char(bytes + text, at - text).code_point);
        alphabet.longest_text = std::max(alphabet.longest_text, chars);
        text = at + 1;
    }
    const std::vector<std::uint32_t>& beginning_with = beginnings.every_char ? occurrences : text_starts;
    alphabet.rank_of.assign(occurrences.size(), 0);
    alphabet.char_of.push_back({});  // the end of a text
    alphabet.beginning_with.push_back(0);
    for (std::size_t code_point = 0; code_point < occurrences.size(); ++code_point) {
        if (occurrences[code_point] == 0) continue;
        alphabet.rank_of[code_point] = static_cast<std::uint32_t>(alphabet.char_of.size());
        alphabet.char_of.push_back(encode_char(static_cast<char32_t>(code_point)));
        alphabet.beginning_with.push_back(code_point < beginning_with.size() ? beginning_with[code_point] : 0);
    }
    return alphabet;
}

// How a counted string is packed into a 64-bit key so that keys compare as
// the strings do: the ranks of its first `chars` characters (all of them if
// it has no more), `rank_bits` each from the top bit down, followed by rank
// 0, which puts a string before its extensions. When the strings may have
// more characters than that, the bits below hold where the rest of the text
// (its tail) begins in the joined bytes: keys that hold `chars` characters
// and agree in them are then put in order by their tails.
struct KeyLayout {
    int rank_bits = 0;
    std::size_t chars = 0;
    int low_bits = 0;  // below the characters
    bool has_tails = false;
    std::uint64_t char_mask = 0;
    std::array<std::uint8_t, 65> chars_in_bits{};       // the characters wholly within so many top bits
    std::array<std::uint8_t, 65> chars_reaching_bit{};  // the characters some of so many top bits belong to

    KeyLayout(std::size_t alphabet_size, std::size_t max_chars, std::size_t joined_bytes)
        : rank_bits(static_cast<int>(std::bit_width(alphabet_size))),
          has_tails(max_chars > static_cast<std::size_t>(64 / rank_bits)) {
        const int position_bits = has_tails ? static_cast<int>(std::bit_width(joined_bytes)) : 0;
        chars = has_tails ? static_cast<std::size_t>((64 - position_bits) / rank_bits) : max_chars;
        low_bits = 64 - static_cast<int>(chars) * rank_bits;
        char_mask = ~std::uint64_t{0} << low_bits;
        for (int bits = 0; bits <= 64; ++bits) {
            chars_in_bits[static_cast<std::size_t>(bits)] = static_cast<std::uint8_t>(bits / rank_bits);
            chars_reaching_bit[static_cast<std::size_t>(bits)] =
                static_cast<std::uint8_t>((bits + rank_bits - 1) / rank_bits);
        }
    }

    std::uint64_t chars_of(std::uint64_t key) const { return key & char_mask; }
    std::size_t tail_of(std::uint64_t key) const { return static_cast<std::size_t>(key & ~char_mask); }
    std::uint32_t rank_at(std::uint64_t key, std::size_t slot) const {
        const int shift = 64 - static_cast<int>(slot + 1) * rank_bits;
        return static_cast<std::uint32_t>((key >> shift) & ((std::uint64_t{1} << rank_bits) - 1));
    }
    // The characters packed in `chars`, which holds at least one.
    std::size_t length_of(std::uint64_t chars_packed) const {
        return chars_reaching_bit[static_cast<std::size_t>(64 - std::countr_zero(chars_packed))];
    }
    // The leading characters that two different packings share.
    std::size_t shared_chars(std::uint64_t a, std::uint64_t b) const {
        return chars_in_bits[static_cast<std::size_t>(std::countl_zero(a ^ b))];
    }
    bool needs_tail(std::uint64_t chars_packed) const { return has_tails && length_of(chars_packed) == chars; }
};

// The key of every counted string, made in one pass over the texts, each put
// straight into the bucket of its first character: keys[bucket_begin[rank],
// bucket_begin[rank + 1]) are those of the strings that begin with the
// character of that rank.
struct KeysByFirstChar {
    std::vector<std::uint64_t> keys;
    std::vector<std::size_t> bucket_begin;
};

KeysByFirstChar keys_by_first_char(const Beginnings& beginnings, const Alphabet& alphabet, const KeyLayout& layout,
                                   WorkMeter& meter) {
    const std::string& joined = beginnings.joined;
    const auto* bytes = reinterpret_cast<const unsigned char*>(joined.data());
    KeysByFirstChar made;
    std::vector<std::size_t>& bucket_begin = made.bucket_begin;
    bucket_begin.assign(alphabet.beginning_with.size() + 1, 0);
    for (std::size_t rank = 0; rank < alphabet.beginning_with.size(); ++rank)
        bucket_begin[rank + 1] = bucket_begin[rank] + alphabet.beginning_with[rank];
    std::vector<std::uint64_t>& keys = made.keys;
    keys.resize(bucket_begin.back());
    std::vector<std::size_t> next_free(bucket_begin.begin(), bucket_begin.end() - 1);
    const int first_shift = 64 - layout.rank_bits;
    for (std::size_t text = 0; text < joined.size();) {
        // The ranks of up to layout.chars characters from the cursor, and
        // where the first character not among them begins.
        std::uint64_t window = 0;
        std::size_t packed = 0, ahead = text;
        auto pack_ahead = [&] {
            while (packed < layout.chars && joined[ahead] != text_end) {
                const DecodedChar read = decode_char(bytes + ahead, joined.size() - ahead);
                ++packed;
                window |= std::uint64_t{alphabet.rank_of[read.code_point]}
                          << (64 - static_cast<int>(packed) * layout.rank_bits);
                ahead += read.width;
            }
        };
        pack_ahead();
        while (packed > 0) {
            meter.count(1);
            keys[next_free[static_cast<std::size_t>(window >> first_shift)]++] =
                window | (layout.has_tails ? std::uint64_t{ahead} : 0);
            if (!beginnings.every_char) break;
            window <<= layout.rank_bits;
            --packed;
            pack_ahead();
        }
        while (joined[ahead] != text_end) ++ahead;
        text = ahead + 1;
    }
    return made;
}

// The counted characters of the tail at `position`: up to `max_chars`, short
// of the end of their text.
std::string_view tail_at(const std::string& joined, std::size_t position, std::size_t max_chars) {
    std::size_t end = position, chars = 0;
    while (joined[end] != text_end) {
        if (begins_char(joined[end]) && chars++ == max_chars) break;
        ++end;
    }
    return std::string_view(joined).substr(position, end - position);
}

// The leading characters that `a` and `b` share.
std::size_t shared_chars(std::string_view a, std::string_view b) {
    const std::size_t bytes =
        static_cast<std::size_t>(std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin());
    std::size_t chars = 0;
    for (std::size_t end = 1; end <= bytes; ++end) chars += end == a.size() || begins_char(a[end]);
    return chars;
}

// The walk over the counted strings in order, through their keys. Of each
// string, the beginnings longer than what it shares with the string before
// it are new: each is stored as it first appears, so in byte order, and once
// the walk passes the last string that has it, counted by how many strings
// it passed since. A run of keys with tails is put in order by comparing the
// tails.
class CountingWalk {
public:
    CountingWalk(const std::string& joined, const Alphabet& alphabet, const KeyLayout& layout, std::size_t max_chars,
                 bool reversed, CountedStrings& counted, WorkMeter& meter)
        : joined_(joined), alphabet_(alphabet), layout_(layout), max_chars_(max_chars), reversed_(reversed),
          counted_(counted), meter_(meter), char_end_(max_chars + 1, 0), entry_(max_chars + 1, 0),
          since_(max_chars + 1, 0) {}

    // Walks on over `keys`, sorted, the strings from `first_index` on in the
    // order.
    void walk(const std::vector<std::uint64_t>& keys, std::size_t first_index) {
        for (std::size_t k = 0; k < keys.size();) {
            meter_.count(1);
            const std::uint64_t chars = layout_.chars_of(keys[k]);
            if (chars == before_) {  // the same string again
                ++k;
                continue;
            }
            const std::size_t shared = before_ == 0 ? 0 : layout_.shared_chars(chars, before_);
            before_ = chars;
            if (!layout_.needs_tail(chars)) {
                step(first_index + k, shared, layout_.length_of(chars), chars, {});
                ++k;
                continue;
            }
            tails_.clear();
            for (std::size_t run = k; run < keys.size() && layout_.chars_of(keys[run]) == chars; ++run) {
                tails_.push_back(tail_at(joined_, layout_.tail_of(keys[run]), max_chars_ - layout_.chars));
                meter_.count(tails_.back().size());
            }
            std::sort(tails_.begin(), tails_.end());
            for (std::size_t t = 0; t < tails_.size(); ++t)
                step(first_index + k + t, t == 0 ? shared : layout_.chars + shared_chars(tails_[t - 1], tails_[t]),
                     layout_.chars + decoded_length(tails_[t]), chars, tails_[t]);
            k += tails_.size();
        }
    }

    // Past the last string, `count` of them.
    void finish(std::size_t count) { step(count, 0, 0, 0, {}); }

private:
    // The string at `index` of the order, of `length` characters, shares the
    // first `shared` with the string before it. Its characters are those of
    // `chars_packed`, then those of `tail`.
    void step(std::size_t index, std::size_t shared, std::size_t length, std::uint64_t chars_packed,
              std::string_view tail) {
        for (; depth_ > shared; --depth_) counted_.counts[entry_[depth_]] = index - since_[depth_];
        text_.resize(char_end_[depth_]);
        std::size_t in_tail = depth_ > layout_.chars ? char_end_[depth_] - char_end_[layout_.chars] : 0;
        while (depth_ < length) {
            ++depth_;
            if (depth_ <= layout_.chars) {
                const EncodedChar& next = alphabet_.char_of[layout_.rank_at(chars_packed, depth_ - 1)];
                text_.append(next.bytes.data(), next.width);
            } else {
                std::size_t end = in_tail + 1;
                while (end < tail.size() && !begins_char(tail[end])) ++end;
                text_.append(tail.substr(in_tail, end - in_tail));
                in_tail = end;
            }
            char_end_[depth_] = text_.size();
            entry_[depth_] = counted_.counts.size();
            since_[depth_] = index;
            counted_.counts.push_back(0);
            meter_.count(text_.size());
            if (reversed_) {
                reversed_text_.clear();
                append_reversed(text_, reversed_text_);
                counted_.strings.add(reversed_text_);
            } else {
                counted_.strings.add(text_);
            }
        }
    }

    const std::string& joined_;
    const Alphabet& alphabet_;
    const KeyLayout& layout_;
    const std::size_t max_chars_;
    const bool reversed_;
    CountedStrings& counted_;
    WorkMeter& meter_;
    std::uint64_t before_ = 0;             // the characters of the key walked last; none before the first
    std::vector<std::string_view> tails_;  // of one run
    std::string text_;                     // the string walked last
    std::size_t depth_ = 0;                // its characters
    std::vector<std::size_t> char_end_;    // by depth d: the bytes of text_'s first d characters
    std::vector<std::size_t> entry_;       // by depth d: the entry of text_'s first d characters
    std::vector<std::size_t> since_;       // by depth d: where in the order that entry first appeared
    std::string reversed_text_;
};

// Counts every beginning of 1 to max_chars characters of the strings that
// begin in `beginnings`: their keys are made in buckets by their first
// characters, and each bucket is sorted and walked in turn. With `reversed`,
// each beginning is stored with its characters reversed.
CountedStrings count_beginnings(const Beginnings& beginnings, std::size_t max_chars, bool reversed,
                                Interruption& interruption) {
    CountedStrings counted;
    WorkMeter meter(&interruption);
    const Alphabet alphabet = alphabet_of(beginnings, meter);
    max_chars = std::min(max_chars, alphabet.longest_text);
    if (max_chars == 0) return counted;
    const KeyLayout layout(alphabet.size(), max_chars, beginnings.joined.size());
    KeysByFirstChar made = keys_by_first_char(beginnings, alphabet, layout, meter);
    CountingWalk walk(beginnings.joined, alphabet, layout, max_chars, reversed, counted, meter);
    std::vector<std::uint64_t> sorted;  // one bucket
    for (std::size_t rank = 1; rank + 1 < made.bucket_begin.size(); ++rank) {
        const std::size_t begin = made.bucket_begin[rank], size = made.bucket_begin[rank + 1] - begin;
        sorted.resize(size);
        sort_keys_into(std::span(made.keys).subspan(begin, size), sorted, layout.low_bits, meter);
        walk.walk(sorted, made.bucket_begin[rank]);
    }
    walk.finish(made.keys.size());
    return counted;
}

}  // namespace

CountedStrings substring_counts(const StringList& words, std::size_t max_chars, Interruption& interruption) {
    Beginnings beginnings{{}, true};
    beginnings.joined.reserve(words.bytes() + words.size());
    for (std::size_t k = 0; k < words.size(); ++k) {
        beginnings.joined.append(words[k]);
        beginnings.end_text();
    }
    return count_beginnings(beginnings, max_chars, false, interruption);
}

std::pair<CountedStrings, CountedStrings> affix_counts(const StringList& words, std::size_t max_chars,
                                                       Interruption& interruption) {
    // A word's prefixes and suffixes that are shorter than it: the word
    // without its last character, and reversed without its first; of each,
    // only the first max_chars characters count.
    Beginnings heads{{}, false}, tails{{}, false};
    for (std::size_t k = 0; k < words.size(); ++k) {
        const std::string_view word = words[k];
        if (word.empty()) continue;
        std::size_t last = word.size() - 1;
        while (!begins_char(word[last])) --last;
        std::size_t second = 1;
        while (second < word.size() && !begins_char(word[second])) ++second;
        if (last == 0) continue;  // one character: nothing shorter
        const std::string_view head = word.substr(0, last), tail = word.substr(second);
        heads.joined.append(head.substr(0, byte_offset_of(head, max_chars)));
        heads.end_text();
        append_reversed(tail.substr(last_chars_begin(tail, max_chars)), tails.joined);
        tails.end_text();
    }
    CountedStrings prefixes = count_beginnings(heads, max_chars, false, interruption);
    heads = Beginnings{};
    return {std::move(prefixes), count_beginnings(tails, max_chars, true, interruption)};
}

}  // namespace morvanex
