#include "piece_index.hpp"

#include <algorithm>
#include <string_view>
#include <utility>

#include "byte_order.hpp"
#include "char_sequence.hpp"
#include "internal_failure.hpp"

namespace morvanex {
namespace {

// The code points of the whitelist's one-character members, sorted.
std::vector<char32_t> one_char_members(const StringSet& whitelist) {
    std::vector<char32_t> members;
    CharSequence chars;
    for (std::size_t position = 0; position < whitelist.size(); ++position) {
        std::string_view text = whitelist[position];
        if (text.empty() || text.size() > 4 || decoded_length(text) != 1) continue;
        decode_into(text, chars);
        members.push_back(chars.code_points[0]);
    }
    std::sort(members.begin(), members.end());
    members.erase(std::unique(members.begin(), members.end()), members.end());
    return members;
}

}  // namespace

PieceIndex::PieceIndex(const ScoreTable& scores, const StringSet& whitelist) : scores_(&scores) {
    // Keys arrive in byte order. A key shares exactly its common prefix with
    // the key before it, and parts from both neighbours at `parting`, one
    // past the longer of its common prefixes with them: nodes down to there
    // are appended level by level (after each key, the last record of every
    // level on its explicit path is on that path), and the rest of a longer
    // key becomes a tail.
    std::vector<std::vector<Record>> levels(1, std::vector<Record>(1, Record{0, 0, 0.0}));
    std::vector<std::vector<std::uint32_t>> child_counts(1, std::vector<std::uint32_t>(1, 0));
    const std::vector<char32_t> whitelisted = one_char_members(whitelist);
    const std::vector<std::uint32_t> keys = scores.entries_in_byte_order();
    auto common_prefix = [](const CharSequence& a, const CharSequence& b) {
        std::size_t shared = 0;
        while (shared < a.length() && shared < b.length() && a.code_points[shared] == b.code_points[shared])
            ++shared;
        return shared;
    };

    CharSequence previous, current, next;
    if (!keys.empty()) decode_into(scores.key(keys[0]), next);
    auto append_key = [&](std::size_t index) {
        std::swap(current, next);
        if (index + 1 < keys.size()) decode_into(scores.key(keys[index + 1]), next);
        const std::vector<char32_t>& path = current.code_points;
        if (path.empty()) return;  // the empty key is no piece and no candidate
        const std::uint32_t key = keys[index];
        std::string_view text = scores.key(key);

        std::size_t shared = common_prefix(previous, current);
        std::size_t parting = std::max(shared, index + 1 < keys.size() ? common_prefix(current, next) : 0) + 1;
        std::size_t explicit_end = std::min(path.size(), parting);
        std::size_t tail_byte = 0;
        if (explicit_end < path.size()) {
            for (std::size_t chars = 0; chars < explicit_end; ++tail_byte) chars += !is_utf8_continuation(text[tail_byte]);
            while (tail_byte < text.size() && is_utf8_continuation(text[tail_byte])) ++tail_byte;
            if (tail_byte >= UINT32_MAX) explicit_end = path.size(), tail_byte = 0;  // too far to refer to
        }
        for (std::size_t depth = shared; depth < explicit_end; ++depth) {
            if (levels.size() <= depth + 1) {
                levels.emplace_back();
                child_counts.emplace_back();
            }
            ++child_counts[depth].back();
            levels[depth + 1].push_back(Record{path[depth], 0, 0.0});
            child_counts[depth + 1].push_back(0);
        }
        Record& last = levels[explicit_end].back();
        if (explicit_end < path.size()) {
            last.code_point_and_flags |= tail_flag;
            last.score = std::bit_cast<double>(Tail{key, static_cast<std::uint32_t>(tail_byte)});
        } else {
            bool usable = path.size() > 1 || std::binary_search(whitelisted.begin(), whitelisted.end(), path[0]);
            last.code_point_and_flags |= keyed_flag | (usable ? scored_flag : 0);
            last.score = scores.value(key);  // a repeated key arrives once, at its last insertion
        }
        std::swap(previous, current);
    };
    // Keys are read in byte order, far from their stored order: load ahead.
    for (std::size_t index = 0; index < keys.size(); ++index) {
        if (index + 16 < keys.size()) scores.prefetch_entry(keys[index + 16]);
        if (index + 8 < keys.size()) scores.prefetch_text(keys[index + 8]);
        append_key(index);
    }

    std::size_t total = 0;
    for (const auto& level : levels) total += level.size();
    if (total >= none) throw InternalFailure("capacity overflow");
    records_.reserve(total + 1);
    // Levels are laid out one after another and children blocks follow each
    // other in the order of their parents, so every block begins where the
    // previous one ended.
    std::uint32_t next_block = static_cast<std::uint32_t>(levels[0].size());
    for (std::size_t depth = 0; depth < levels.size(); ++depth) {
        for (std::size_t k = 0; k < levels[depth].size(); ++k) {
            Record record = levels[depth][k];
            record.children_begin = next_block;
            next_block += child_counts[depth][k];
            records_.push_back(record);
        }
    }
    records_.push_back(Record{0, next_block, 0.0});  // sentinel
    for (char32_t c = 0; c < ascii_roots_.size(); ++c) ascii_roots_[c] = find_child(root_, c);
}

PieceIndex::Step PieceIndex::step_in_tail(const Step& from, char32_t next) const {
    std::string_view text = scores_->key(from.tail_key);
    std::size_t byte = from.tail_byte;
    auto at_byte = [&](std::size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(text[k])); };
    char32_t lead = at_byte(byte);
    std::size_t width = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t c = width == 1 ? lead : width == 2 ? lead & 0x1F : width == 3 ? lead & 0x0F : lead & 0x07;
    for (std::size_t k = 1; k < width && byte + k < text.size(); ++k) c = (c << 6) | (at_byte(byte + k) & 0x3F);
    if (c != next) return missing();
    byte += width;
    if (byte >= text.size())  // the whole key: at least two characters, so usable
        return Step{true, true, true, false, scores_->value(from.tail_key), none, 0, 0};
    return Step{true, false, false, true, 0.0, none, from.tail_key, static_cast<std::uint32_t>(byte)};
}

}  // namespace morvanex
