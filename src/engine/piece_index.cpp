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

PieceIndex::PieceIndex(const ScoreTable& scores, const StringSet& whitelist) {
    // Children are appended level by level while the sorted keys are walked:
    // after each key, the last record of every level up to the key's length
    // is on that key's path, so the next key shares exactly its common
    // prefix with it and appends the rest.
    std::vector<std::vector<Record>> levels(1, std::vector<Record>(1, Record{0, 0, 0.0}));
    std::vector<std::vector<std::uint32_t>> child_counts(1, std::vector<std::uint32_t>(1, 0));
    const std::vector<char32_t> whitelisted = one_char_members(whitelist);
    CharSequence previous, current;
    auto append_key = [&](std::uint32_t key) {
        decode_into(scores.key(key), current);
        const std::vector<char32_t>& path = current.code_points;
        if (path.empty()) return;  // the empty key is no piece and no candidate
        std::size_t shared = 0;
        while (shared < previous.length() && shared < path.size() &&
               previous.code_points[shared] == path[shared])
            ++shared;
        for (std::size_t depth = shared; depth < path.size(); ++depth) {
            if (levels.size() <= depth + 1) {
                levels.emplace_back();
                child_counts.emplace_back();
            }
            ++child_counts[depth].back();
            levels[depth + 1].push_back(Record{path[depth], 0, 0.0});
            child_counts[depth + 1].push_back(0);
        }
        bool usable = path.size() > 1 || std::binary_search(whitelisted.begin(), whitelisted.end(), path[0]);
        Record& last = levels[path.size()].back();
        last.code_point_and_flags |= keyed_flag | (usable ? scored_flag : 0);
        last.score = scores.value(key);  // a repeated key arrives once, at its last insertion
        std::swap(previous, current);
    };
    visit_prefetching(
        scores.entries_in_byte_order(), append_key,
        [&](std::uint32_t key) { scores.prefetch_entry(key); },
        [&](std::uint32_t key) { scores.prefetch_text(key); });

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

}  // namespace morvanex
