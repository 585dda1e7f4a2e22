#include "piece_index.hpp"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "char_sequence.hpp"
#include "internal_failure.hpp"
#include "prefetch.hpp"
#include "utf8.hpp"

namespace morvanex {
namespace {

// The code points of the whitelist's one-character members, sorted.
std::vector<char32_t> one_char_members(const InsertedStrings& whitelist, WorkMeter& meter) {
    std::vector<char32_t> members;
    meter.count_each(0, whitelist.size(), [&](std::size_t position) {
        std::string_view text = whitelist[position];
        if (text.empty() || text.size() > 4 || decoded_length(text) != 1) return;
        members.push_back(decode_char(reinterpret_cast<const unsigned char*>(text.data()), text.size()).code_point);
    });
    std::sort(members.begin(), members.end());
    members.erase(std::unique(members.begin(), members.end()), members.end());
    return members;
}

// Keys are read far from their stored order: loads the entries of the keys
// a few places after keys[index].
void read_ahead(const InsertedScores& scores, const std::vector<std::uint32_t>& keys, std::size_t index) {
    prefetch_ahead(
        keys, index, [&](std::uint32_t key) { scores.prefetch_entry(key); },
        [&](std::uint32_t key) { scores.prefetch_text(key); });
}

std::size_t common_prefix(const CharSequence& a, const CharSequence& b) {
    std::size_t shared = 0;
    while (shared < a.length() && shared < b.length() && a.code_points[shared] == b.code_points[shared]) ++shared;
    return shared;
}

}  // namespace

struct PieceIndex::Layout {
    struct Span {
        std::uint32_t shared;        // depth already on the previous key's path
        std::uint32_t explicit_end;  // depth of the key's last node; 0 for the empty key
        std::uint32_t tail_byte;     // where the rest of a longer key starts in its text
    };
    std::vector<Span> spans;               // one per key, in the keys' order
    std::vector<std::size_t> level_sizes;  // nodes at each depth, the root's first
    std::size_t tail_bytes;                // the finished tail arena's size
};

PieceIndex::PieceIndex(const InsertedScores& scores, const std::vector<std::uint32_t>& keys,
                       const InsertedStrings& whitelist, Interruption* interruption)
    : tails_(1, '\0') {
    // Keys arrive in byte order. A key shares exactly its common prefix with
    // the key before it and parts from both neighbours one past the longer
    // of its common prefixes with them; it needs nodes from the first to the
    // parting depth, and the rest of a longer key becomes a tail. A first
    // pass finds these depths and so the size of every level; the second
    // writes each node straight into its final place, so that building
    // needs no more memory than the finished trie. Then each node is given
    // where its block of children begins, and the commonest first steps of
    // a walk are looked up once.
    assert(keys.size() <= scores.size());
    WorkMeter meter(interruption);
    const Layout layout = measure_levels(scores, keys, meter);
    write_nodes(scores, keys, layout, whitelist, meter);
    link_child_blocks(meter);
    build_ascii_shortcuts();
}

bool PieceIndex::visit_in_byte_order(const std::function<bool(std::string_view, double)>& visit,
                                     Interruption* interruption) const {
    // Depth first, children in code point order: a key comes before its
    // extensions, as in byte order. A node waiting on the stack records how
    // many bytes of the path lie above it.
    WorkMeter meter(interruption);
    struct Waiting {
        Node node;
        std::size_t path_bytes;
    };
    std::vector<Waiting> stack;
    std::string path;
    auto push_children = [&](Node parent) {
        for (Node child = records_[parent + 1].children_begin; child-- > records_[parent].children_begin;)
            stack.push_back({child, path.size()});
    };
    push_children(root);
    while (!stack.empty()) {
        meter.count(1);
        const Waiting next = stack.back();
        stack.pop_back();
        const Record& record = records_[next.node];
        path.resize(next.path_bytes);
        const EncodedChar c = encode_char(record.code_point_and_flags & code_point_mask);
        path.append(c.bytes.data(), c.width);
        if (record.code_point_and_flags & tail_flag) {
            const Tail tail = std::bit_cast<Tail>(record.score);
            double value = 0.0;
            std::memcpy(&value, tails_.data() + tail.end, sizeof value);
            path.append(tails_, tail.begin, tail.end - tail.begin);
            if (!visit(path, value)) return false;
            continue;
        }
        if ((record.code_point_and_flags & keyed_flag) && !visit(path, record.score)) return false;
        push_children(next.node);
    }
    return true;
}

InsertedScores PieceIndex::entries_in_byte_order(Interruption* interruption) const {
    InsertedScores entries(records_.size());  // a key ends at one node, or in its tail
    visit_in_byte_order(
        [&](std::string_view key, double value) {
            entries.insert(key, value);
            return true;
        },
        interruption);
    return entries;
}

PieceIndex::Layout PieceIndex::measure_levels(const InsertedScores& scores, const std::vector<std::uint32_t>& keys,
                                              WorkMeter& meter) {
    std::vector<Layout::Span> spans(keys.size(), Layout::Span{0, 0, 0});
    std::vector<std::size_t> level_sizes(1, 1);  // the root
    std::size_t tail_bytes = tails_.size();
    CharSequence previous, current, next;
    if (!keys.empty()) decode_into(scores.key(keys[0]), next);
    meter.count_each(0, keys.size(), [&](std::size_t index) {
        read_ahead(scores, keys, index);
        std::swap(current, next);
        if (index + 1 < keys.size()) decode_into(scores.key(keys[index + 1]), next);
        if (current.length() == 0) return;  // the empty key is no piece and no candidate
        longest_key_ = std::max(longest_key_, current.length());
        std::size_t shared = common_prefix(previous, current);
        std::size_t ahead = index + 1 < keys.size() ? common_prefix(current, next) : 0;
        std::size_t explicit_end = std::min(current.length(), std::max(shared, ahead) + 1);
        std::size_t tail_byte = 0;
        if (explicit_end < current.length()) {
            std::string_view text = scores.key(keys[index]);
            tail_byte = byte_offset_of(text, explicit_end);
            std::size_t tail_size = text.size() - tail_byte + sizeof(double);
            if (tail_bytes + tail_size < UINT32_MAX) {
                tail_bytes += tail_size;
            } else {  // the tail arena is addressed in 32 bits: keep the rest as nodes
                explicit_end = current.length();
                tail_byte = 0;
            }
        }
        if (explicit_end >= UINT32_MAX) throw InternalFailure(failure_text::capacity_overflow);
        spans[index] = Layout::Span{static_cast<std::uint32_t>(shared), static_cast<std::uint32_t>(explicit_end),
                                    static_cast<std::uint32_t>(tail_byte)};
        if (level_sizes.size() <= explicit_end) level_sizes.resize(explicit_end + 1, 0);
        for (std::size_t depth = shared + 1; depth <= explicit_end; ++depth) ++level_sizes[depth];
        std::swap(previous, current);
    });
    return Layout{std::move(spans), std::move(level_sizes), tail_bytes};
}

// Leaves in each node's children_begin the number of its children.
void PieceIndex::write_nodes(const InsertedScores& scores, const std::vector<std::uint32_t>& keys, const Layout& layout,
                             const InsertedStrings& whitelist, WorkMeter& meter) {
    const std::vector<char32_t> whitelisted = one_char_members(whitelist, meter);
    // Levels lie one after another; `filled[d]` counts the nodes written so
    // far at depth d, so the last of them is on the current key's path.
    const std::vector<std::size_t>& level_sizes = layout.level_sizes;
    std::vector<std::size_t> level_begin(level_sizes.size() + 1, 0);
    for (std::size_t depth = 0; depth < level_sizes.size(); ++depth)
        level_begin[depth + 1] = level_begin[depth] + level_sizes[depth];
    const std::size_t total = level_begin.back();
    if (total >= none) throw InternalFailure(failure_text::capacity_overflow);
    records_.assign(total + 1, Record{0, 0, 0.0});  // the last one a sentinel
    tails_.reserve(layout.tail_bytes);
    std::vector<std::size_t> filled(level_sizes.size(), 0);
    filled[0] = 1;
    auto last_at = [&](std::size_t depth) { return level_begin[depth] + filled[depth] - 1; };

    CharSequence current;
    meter.count_each(0, keys.size(), [&](std::size_t index) {
        read_ahead(scores, keys, index);
        const Layout::Span span = layout.spans[index];
        if (span.explicit_end == 0) return;
        const std::uint32_t key = keys[index];
        std::string_view text = scores.key(key);
        decode_into(text, current);
        const std::vector<char32_t>& path = current.code_points;
        for (std::size_t depth = span.shared; depth < span.explicit_end; ++depth) {
            ++records_[last_at(depth)].children_begin;
            ++filled[depth + 1];
            records_[last_at(depth + 1)].code_point_and_flags = path[depth];
        }
        Record& last = records_[last_at(span.explicit_end)];
        if (span.explicit_end < path.size()) {
            auto begin = static_cast<std::uint32_t>(tails_.size());
            tails_.append(text.substr(span.tail_byte));
            auto end = static_cast<std::uint32_t>(tails_.size());
            double value = scores.value(key);  // a repeated key arrives once, at its last insertion
            tails_.append(reinterpret_cast<const char*>(&value), sizeof value);
            last.code_point_and_flags |= tail_flag;
            last.score = std::bit_cast<double>(Tail{begin, end});
        } else {
            bool usable = path.size() > 1 || std::binary_search(whitelisted.begin(), whitelisted.end(), path[0]);
            last.code_point_and_flags |= keyed_flag | (usable ? scored_flag : 0);
            last.score = scores.value(key);  // a repeated key arrives once, at its last insertion
        }
    });
}

// Turns each node's count of children into where its block of them begins:
// blocks follow each other in the order of their parents, so every block
// begins where the previous one ended.
void PieceIndex::link_child_blocks(WorkMeter& meter) {
    const std::size_t total = records_.size() - 1;
    std::uint32_t next_block = 1;
    meter.count_each(0, total,
                     [&](std::size_t node) { next_block += std::exchange(records_[node].children_begin, next_block); });
    records_[total].children_begin = next_block;  // the sentinel closes the last block
}

// The first and second steps of walks over ASCII, looked up once.
void PieceIndex::build_ascii_shortcuts() {
    for (char32_t c = 0; c < ascii_roots_.size(); ++c) ascii_roots_[c] = find_child(root, c);
    ascii_pairs_.assign(128 * 128, none);
    for (char32_t c = 0; c < 128; ++c) {
        Node first = ascii_roots_[c];
        if (first == none || (records_[first].code_point_and_flags & tail_flag)) continue;
        for (Node child = records_[first].children_begin; child < records_[first + 1].children_begin; ++child) {
            char32_t next = records_[child].code_point_and_flags & code_point_mask;
            if (next < 128) ascii_pairs_[c * 128 + next] = child;
        }
    }
}

}  // namespace morvanex
