#include "byte_order.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <utility>

#include "internal_failure.hpp"
#include "work_sharing.hpp"

namespace morvanex {
namespace {

// Spreads keyed[begin, end) in place over 256 buckets by the byte of the
// words at `shift`, moving each pair to its bucket cycle by cycle, without a
// second buffer; returns where each bucket ends. Counted on `meter` as two
// units a pair.
std::array<std::size_t, 256> spread_by_byte(std::vector<KeyedPosition>& keyed, std::size_t begin, std::size_t end,
                                            int shift, WorkMeter& meter) {
    auto byte_of = [shift](const KeyedPosition& k) { return static_cast<std::size_t>((k.first >> shift) & 0xFF); };
    std::array<std::size_t, 256> bucket_end{}, next_free{};
    meter.count_each(begin, end, [&](std::size_t k) { ++bucket_end[byte_of(keyed[k])]; });
    std::size_t start = begin;
    for (std::size_t b = 0; b < 256; ++b) {
        next_free[b] = start;
        start += bucket_end[b];
        bucket_end[b] = start;
    }
    auto fill = [&](std::size_t b) {
        while (next_free[b] < bucket_end[b]) {
            KeyedPosition& here = keyed[next_free[b]];
            std::size_t home = byte_of(here);
            if (home == b)
                ++next_free[b];
            else
                std::swap(here, keyed[next_free[home]++]);
        }
    };
    // Most spreads are short: they count their cycles at once.
    if (end - begin <= static_cast<std::size_t>(WorkMeter::interval)) {
        meter.count(end - begin);
        for (std::size_t b = 0; b < 256; ++b) fill(b);
    } else {
        for (std::size_t b = 0; b < 256; ++b) {
            meter.count(bucket_end[b] - next_free[b]);
            fill(b);
        }
    }
    return bucket_end;
}

// Spreads `keyed` over the buckets of the words' top byte, which leaves
// buckets small enough to sort in cache, and returns where each bucket ends.
// Small inputs stay one bucket.
std::vector<std::size_t> spread_by_top_byte(std::vector<KeyedPosition>& keyed, WorkMeter& meter) {
    if (keyed.size() < 4096) return {keyed.size()};
    const std::array<std::size_t, 256> bucket_end = spread_by_byte(keyed, 0, keyed.size(), 56, meter);
    return {bucket_end.begin(), bucket_end.end()};
}

}  // namespace

void sort_by_word(std::vector<KeyedPosition>& keyed, std::size_t begin, std::size_t end, WorkMeter& meter, int shift) {
    constexpr std::size_t compared = 64;
    if (shift < 0) return;  // the words are equal
    if (end - begin <= compared) {
        meter.count(end - begin);
        std::sort(keyed.begin() + static_cast<std::ptrdiff_t>(begin), keyed.begin() + static_cast<std::ptrdiff_t>(end),
                  [](const KeyedPosition& a, const KeyedPosition& b) { return a.first < b.first; });
        return;
    }
    const std::array<std::size_t, 256> bucket_end = spread_by_byte(keyed, begin, end, shift, meter);
    for (std::size_t b = 0, bucket_begin = begin; b < 256; bucket_begin = bucket_end[b++])
        if (bucket_end[b] - bucket_begin > 1) sort_by_word(keyed, bucket_begin, bucket_end[b], meter, shift - 8);
}

std::size_t distinct_in_bucket(const StringList& strings, std::vector<KeyedPosition>& keyed, std::size_t begin,
                               std::size_t end, bool top_byte_spread, KeepRepeat keep, WorkMeter& meter,
                               std::uint32_t* kept_position) {
    constexpr std::size_t compared_run = 16;  // at most this many: compared, not refetched
    auto at = [&](std::size_t k) { return keyed.begin() + static_cast<std::ptrdiff_t>(k); };
    std::size_t kept = begin;
    // Writes over pairs already read: `kept` never passes the pair being read.
    auto keep_group = [&](std::size_t group_begin, std::size_t group_end) {
        const std::uint32_t chosen = keep == KeepRepeat::first ? keyed[group_begin].second
                                                               : keyed[group_end - 1].second;
        if (kept_position != nullptr)
            for (std::size_t k = group_begin; k < group_end; ++k) kept_position[keyed[k].second] = chosen;
        keyed[kept++].second = chosen;
    };
    // keyed[run, run_end), sorted by `first`: one group per equal `first`.
    auto keep_groups_by_first = [&](std::size_t run, std::size_t run_end) {
        for (std::size_t k = run; k < run_end;) {
            std::size_t same = k + 1;
            while (same < run_end && keyed[same].first == keyed[k].first) ++same;
            keep_group(k, same);
            k = same;
        }
    };
    // The strings of keyed[run, run_end) share their first `depth` bytes.
    auto compare_run = [&](std::size_t run, std::size_t run_end, std::size_t depth) {
        meter.count(run_end - run);
        auto rest = [&](std::uint32_t position) { return strings[position].substr(depth); };
        std::sort(at(run), at(run_end), [&](const KeyedPosition& a, const KeyedPosition& b) {
            int order = rest(a.second).compare(rest(b.second));
            return order != 0 ? order < 0 : a.second < b.second;
        });
        for (std::size_t k = run; k < run_end;) {
            std::size_t same = k + 1;
            while (same < run_end && rest(keyed[same].second) == rest(keyed[k].second)) ++same;
            keep_group(k, same);
            k = same;
        }
    };

    if (end - begin <= compared_run) {
        compare_run(begin, end, 0);
        return kept - begin;
    }
    struct Level {
        std::size_t cursor, end, depth;  // pairs [cursor, end), sorted by their words at `depth`
    };
    std::vector<Level> levels;
    std::vector<std::size_t> ended;
    // Below the top byte when the bucket is one of its buckets.
    sort_by_word(keyed, begin, end, meter, top_byte_spread ? 48 : 56);
    levels.push_back({begin, end, 0});
    while (!levels.empty()) {
        Level& level = levels.back();
        if (level.cursor == level.end) {
            levels.pop_back();
            continue;
        }
        const std::size_t run = level.cursor, depth = level.depth + 8;
        std::size_t run_end = run + 1;
        while (run_end < level.end && keyed[run_end].first == keyed[run].first) ++run_end;
        level.cursor = run_end;  // `level` is not used past the push below
        if (run_end - run == 1) {
            keep_group(run, run_end);
            continue;
        }
        if (run_end - run <= compared_run) {
            compare_run(run, run_end, depth - 8);
            continue;
        }
        // The next word of each string, or the length of one that ended;
        // those that ended are then moved to the front.
        ended.clear();
        meter.count(run_end - run);
        for (std::size_t k = run; k < run_end; ++k) {
            if (k + 16 < run_end) strings.prefetch_record(keyed[k + 16].second);
            if (k + 8 < run_end) strings.prefetch_text(keyed[k + 8].second);
            std::string_view text = strings[keyed[k].second];
            if (text.size() <= depth) ended.push_back(k);
            keyed[k].first = text.size() <= depth ? text.size() : leading_bytes(text.substr(depth));
        }
        const std::size_t rest = run + ended.size();
        for (std::size_t e = 0; e < ended.size(); ++e) std::swap(keyed[run + e], keyed[ended[e]]);
        std::sort(at(run), at(rest));
        keep_groups_by_first(run, rest);
        if (run_end - rest <= 1) {
            if (rest < run_end) keep_group(rest, run_end);
            continue;
        }
        sort_by_word(keyed, rest, run_end, meter);
        levels.push_back({rest, run_end, depth});
    }
    return kept - begin;
}

std::vector<std::uint32_t> distinct_in_byte_order(const StringList& strings, KeepRepeat keep, std::size_t threads,
                                                  Interruption* interruption,
                                                  std::vector<std::uint32_t>* kept_position) {
    const std::size_t count = strings.size();
    if (count >= UINT32_MAX) throw InternalFailure(failure_text::capacity_overflow);
    if (kept_position != nullptr) kept_position->assign(count, 0);
    std::vector<KeyedPosition> keyed(count);
    WorkMeter meter(interruption);
    meter.count_each(0, count, [&](std::size_t position) {
        keyed[position] = {leading_bytes(strings[position]), static_cast<std::uint32_t>(position)};
    });
    const std::vector<std::size_t> bucket_end = spread_by_top_byte(keyed, meter);

    // A bucket's distinct positions are written over its own front, then the
    // buckets are joined.
    std::vector<std::size_t> distinct_in_each(bucket_end.size(), 0);
    ChunkQueue buckets(bucket_end.size(), 1);
    auto sort_claimed = [&] {
        WorkMeter own(interruption);
        for (ChunkQueue::Chunk chunk; buckets.claim(chunk);) {
            const std::size_t bucket = chunk.begin;
            distinct_in_each[bucket] = distinct_in_bucket(strings, keyed, bucket == 0 ? 0 : bucket_end[bucket - 1],
                                                          bucket_end[bucket], bucket_end.size() > 1, keep, own,
                                                          kept_position != nullptr ? kept_position->data() : nullptr);
        }
    };
    std::function<void()> while_waiting;
    if (interruption != nullptr) while_waiting = [interruption] { interruption->check(); };
    run_sharing(std::min(threads, bucket_end.size()), buckets, sort_claimed, while_waiting);

    std::vector<std::uint32_t> distinct;
    distinct.reserve(count);
    for (std::size_t bucket = 0; bucket < bucket_end.size(); ++bucket) {
        const std::size_t begin = bucket == 0 ? 0 : bucket_end[bucket - 1];
        for (std::size_t k = begin; k < begin + distinct_in_each[bucket]; ++k) distinct.push_back(keyed[k].second);
    }
    return distinct;
}

}  // namespace morvanex
