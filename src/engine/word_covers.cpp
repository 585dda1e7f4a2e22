#include "word_covers.hpp"

#include <algorithm>
#include <optional>
#include <thread>
#include <utility>

#include "byte_order.hpp"
#include "char_sequence.hpp"
#include "scorer.hpp"
#include "work_sharing.hpp"

namespace morvanex {
namespace {

// Words claimed at once by a thread: consecutive words often share a
// beginning, whose walks the scorer resumes.
constexpr std::size_t words_per_claim = 1024;

// Work units a word counts beyond its trie steps, as a candidate does.
constexpr std::size_t units_per_word = 16;

}  // namespace

WordCovers::WordCovers(StringList words)
    : words_(std::move(words)), values_(words_.size(), -1.0), piece_begins_(words_.bytes(), 0) {}

void WordCovers::copy_cover(std::size_t k, std::size_t from) {
    values_[k] = values_[from];
    const auto begins = piece_begins_.begin();
    std::copy_n(begins + static_cast<std::ptrdiff_t>(words_.offset(from)), words_[k].size(),
                begins + static_cast<std::ptrdiff_t>(words_.offset(k)));
}

WordCovers best_word_covers(StringList words, const PieceIndex& pieces, CandidateKind kind, std::size_t worker_threads,
                            Interruption& interruption, const OwnBestCovers* known_roots) {
    constexpr std::size_t most_worker_threads = 1024;
    worker_threads = std::clamp<std::size_t>(worker_threads, 1, most_worker_threads);
    if (kind != CandidateKind::root) known_roots = nullptr;

    WordCovers covers(std::move(words));
    std::vector<std::uint32_t> first_of;  // per word: where its string first occurs
    const std::vector<std::uint32_t> order =
        distinct_in_byte_order(covers.words_, KeepRepeat::first, worker_threads, &interruption, &first_of);
    ChunkQueue queue(order.size(), words_per_claim);
    auto cover_claimed = [&] {
        ScorerScratch scratch;
        scratch.meter = WorkMeter(&interruption);
        for (ChunkQueue::Chunk chunk; queue.claim(chunk);) {
            std::optional<OwnBestCovers::RootCursor> known;
            if (known_roots != nullptr) known.emplace(*known_roots, covers.words_[order[chunk.begin]]);
            for (std::size_t k = chunk.begin; k < chunk.end; ++k) {
                scratch.meter.count(units_per_word);
                const std::size_t position = order[k];
                const std::string_view word = covers.words_[position];
                if (word.empty()) continue;
                std::uint8_t* begins = covers.piece_begins_.data() + covers.words_.offset(position);
                if (known) {
                    if (const auto found = known->find(word)) {
                        covers.values_[position] = found->value;
                        std::copy_n(found->piece_begins, word.size(), begins);
                        continue;
                    }
                }
                decode_into(word, scratch.chars);
                const Cover found = best_cover(scratch.chars, pieces, kind, scratch);
                covers.values_[position] = found.value;
                if (covers.covered(position)) mark_piece_begins(found, word, scratch.chars.length(), begins);
            }
        }
    };
    run_sharing(std::min(worker_threads, queue.chunk_count()), queue, cover_claimed,
                [&] { interruption.ask_or_throw(); });
    for (std::size_t k = 0; k < covers.size(); ++k)
        if (first_of[k] != k) covers.copy_cover(k, first_of[k]);
    return covers;
}

std::vector<PieceUse> piece_uses(const WordCovers& covers) {
    // Each word's distinct pieces, all together, sorted: a piece's run is
    // the words that use it.
    std::vector<std::string_view> used, of_word;
    for (std::size_t k = 0; k < covers.size(); ++k) {
        if (!covers.covered(k)) continue;
        of_word.clear();
        covers.for_each_piece(k, [&](std::string_view piece) {
            if (std::find(of_word.begin(), of_word.end(), piece) == of_word.end()) of_word.push_back(piece);
        });
        used.insert(used.end(), of_word.begin(), of_word.end());
    }
    std::sort(used.begin(), used.end());
    std::vector<PieceUse> uses;
    for (std::size_t begin = 0, end = 0; begin < used.size(); begin = end) {
        while (end < used.size() && used[end] == used[begin]) ++end;
        uses.push_back({used[begin], end - begin});
    }
    return uses;
}

}  // namespace morvanex
