#include "beginning_counts.hpp"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "byte_order.hpp"
#include "internal_failure.hpp"

namespace morvanex {
namespace {

// Ends each text in the joined bytes: no UTF-8 text holds it.
constexpr char text_end = '\xFF';

bool begins_char(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) != 0x80; }

// Texts back to back in one string, each followed by text_end, and the
// positions where the counted strings begin: each is counted by its first 1
// to max_chars characters, as far as its text goes.
struct Beginnings {
    std::string joined;
    std::vector<std::uint32_t> starts;

    void end_text() {
        joined.push_back(text_end);
        if (joined.size() >= UINT32_MAX) throw InternalFailure(failure_text::capacity_overflow);
    }
};

// The characters counted from `start`: up to max_chars of them, short of the
// end of their text.
std::string_view counted_at(const std::string& joined, std::uint32_t start, std::size_t max_chars) {
    std::size_t end = start, chars = 0;
    while (joined[end] != text_end) {
        if (begins_char(joined[end]) && chars++ == max_chars) break;
        ++end;
    }
    return std::string_view(joined).substr(start, end - start);
}

// The characters of `text` in reverse order.
void append_reversed(std::string_view text, std::string& out) {
    for (std::size_t end = text.size(); end > 0;) {
        std::size_t begin = end - 1;
        while (!begins_char(text[begin])) --begin;
        out.append(text.substr(begin, end - begin));
        end = begin;
    }
}

// The strings of `keyed`, sorted by their leading bytes, in byte order. Within
// a run of equal leading bytes, strings of at most eight bytes are ordered by
// their length (the shorter is a prefix of the longer), and longer ones follow
// them, compared whole; so runs of one short string, however long, cost no
// comparisons.
void sort_equal_words(const std::string& joined, const std::vector<KeyedPosition>& keyed, std::size_t max_chars,
                      std::vector<std::string_view>& sorted) {
    sorted.clear();
    std::array<std::vector<std::string_view>, 9> by_length;
    std::vector<std::string_view> longer;
    for (std::size_t run = 0; run < keyed.size();) {
        std::size_t run_end = run + 1;
        while (run_end < keyed.size() && keyed[run_end].first == keyed[run].first) ++run_end;
        if (run_end - run == 1) {
            sorted.push_back(counted_at(joined, keyed[run].second, max_chars));
            run = run_end;
            continue;
        }
        for (std::size_t k = run; k < run_end; ++k) {
            std::string_view text = counted_at(joined, keyed[k].second, max_chars);
            (text.size() <= 8 ? by_length[text.size()] : longer).push_back(text);
        }
        for (std::vector<std::string_view>& same : by_length) {
            sorted.insert(sorted.end(), same.begin(), same.end());
            same.clear();
        }
        std::sort(longer.begin(), longer.end());
        sorted.insert(sorted.end(), longer.begin(), longer.end());
        longer.clear();
        run = run_end;
    }
}

// Counts every beginning of 1 to max_chars characters of the strings at
// `beginnings.starts`. The starts are spread over buckets by their first two
// bytes, each bucket is sorted, and the sorted strings are walked in order:
// a string's beginnings longer than what it shares with the one before it
// are new, and every beginning it has counts once more. A new beginning is
// stored when it first appears, so the result is in byte order. With
// `reversed`, each beginning is stored with its characters reversed.
CountedStrings count_beginnings(const Beginnings& beginnings, std::size_t max_chars, bool reversed,
                                Interruption& interruption) {
    CountedStrings counted;
    if (max_chars == 0) return counted;
    const std::string& joined = beginnings.joined;
    WorkMeter meter(interruption, true);

    auto bucket_of = [&](std::uint32_t start) {
        const auto first = static_cast<unsigned char>(joined[start]);
        const bool second_counted = joined[start + 1] != text_end && (max_chars > 1 || !begins_char(joined[start + 1]));
        return (std::size_t{first} << 8) | (second_counted ? static_cast<unsigned char>(joined[start + 1]) : 0u);
    };
    std::vector<std::size_t> bucket_begin(65536 + 1, 0);
    for (std::uint32_t start : beginnings.starts) ++bucket_begin[bucket_of(start) + 1];
    for (std::size_t b = 1; b < bucket_begin.size(); ++b) bucket_begin[b] += bucket_begin[b - 1];
    std::vector<std::uint32_t> by_bucket(beginnings.starts.size());
    {
        std::vector<std::size_t> next(bucket_begin.begin(), bucket_begin.end() - 1);
        for (std::uint32_t start : beginnings.starts) by_bucket[next[bucket_of(start)]++] = start;
    }

    std::vector<KeyedPosition> keyed;                 // one bucket: leading bytes, start
    std::vector<std::string_view> bucket;             // its strings in byte order
    std::vector<std::size_t> open(max_chars + 1, 0);  // open[d]: the entry of the current beginning of d characters
    std::string_view before;                          // the string walked last
    std::string reversed_text;
    for (std::size_t b = 0; b + 1 < bucket_begin.size(); ++b) {
        if (bucket_begin[b] == bucket_begin[b + 1]) continue;
        keyed.clear();
        for (std::size_t k = bucket_begin[b]; k < bucket_begin[b + 1]; ++k) {
            const std::string_view text = counted_at(joined, by_bucket[k], max_chars);
            meter.count(text.size() + 8);
            keyed.push_back({leading_bytes(text), by_bucket[k]});
        }
        sort_by_word(keyed, 0, keyed.size());
        sort_equal_words(joined, keyed, max_chars, bucket);
        for (const std::string_view text : bucket) {
            meter.count(max_chars);
            const std::size_t shared_bytes = static_cast<std::size_t>(
                std::mismatch(text.begin(), text.end(), before.begin(), before.end()).first - text.begin());
            std::size_t depth = 0;
            for (std::size_t end = 1; end <= text.size(); ++end) {
                if (end < text.size() && !begins_char(text[end])) continue;
                ++depth;  // the beginning text[0, end) has `depth` characters
                if (end > shared_bytes) {
                    open[depth] = counted.counts.size();
                    counted.counts.push_back(0);
                    if (reversed) {
                        reversed_text.clear();
                        append_reversed(text.substr(0, end), reversed_text);
                        counted.strings.add(reversed_text);
                    } else {
                        counted.strings.add(text.substr(0, end));
                    }
                }
                ++counted.counts[open[depth]];
            }
            before = text;
        }
    }
    return counted;
}

}  // namespace

CountedStrings substring_counts(const StringList& words, std::size_t max_chars, Interruption& interruption) {
    Beginnings beginnings;
    beginnings.joined.reserve(words.bytes() + words.size());
    for (std::size_t k = 0; k < words.size(); ++k) {
        const std::string_view word = words[k];
        for (std::size_t byte = 0; byte < word.size(); ++byte)
            if (begins_char(word[byte]))
                beginnings.starts.push_back(static_cast<std::uint32_t>(beginnings.joined.size() + byte));
        beginnings.joined.append(word);
        beginnings.end_text();
    }
    return count_beginnings(beginnings, max_chars, false, interruption);
}

std::pair<CountedStrings, CountedStrings> affix_counts(const StringList& words, std::size_t max_chars,
                                                       Interruption& interruption) {
    // A word's prefixes and suffixes that are shorter than it: the word
    // without its last character, and reversed without its first.
    Beginnings heads, tails;
    for (std::size_t k = 0; k < words.size(); ++k) {
        const std::string_view word = words[k];
        if (word.empty()) continue;
        std::size_t last = word.size() - 1;
        while (!begins_char(word[last])) --last;
        std::size_t second = 1;
        while (second < word.size() && !begins_char(word[second])) ++second;
        if (last == 0) continue;  // one character: nothing shorter
        heads.starts.push_back(static_cast<std::uint32_t>(heads.joined.size()));
        heads.joined.append(word.substr(0, last));
        heads.end_text();
        tails.starts.push_back(static_cast<std::uint32_t>(tails.joined.size()));
        append_reversed(word.substr(second), tails.joined);
        tails.end_text();
    }
    CountedStrings prefixes = count_beginnings(heads, max_chars, false, interruption);
    heads = Beginnings();
    return {std::move(prefixes), count_beginnings(tails, max_chars, true, interruption)};
}

}  // namespace morvanex
