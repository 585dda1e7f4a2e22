#include "word_covers.hpp"

#include <algorithm>
#include <thread>
#include <utility>

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

WordCovers best_word_covers(StringList words, const PieceIndex& pieces, CandidateKind kind, std::size_t worker_threads,
                            Interruption& interruption) {
    constexpr std::size_t most_worker_threads = 1024;
    worker_threads = std::clamp<std::size_t>(worker_threads, 1, most_worker_threads);

    WordCovers covers(std::move(words));
    ChunkQueue queue(covers.size(), words_per_claim);
    auto cover_claimed = [&] {
        ScorerScratch scratch;
        scratch.meter = WorkMeter(&interruption);
        std::vector<std::uint8_t> cut_before;  // per character of the word: 1 where a piece begins
        for (ChunkQueue::Chunk chunk; queue.claim(chunk);) {
            for (std::size_t k = chunk.begin; k < chunk.end; ++k) {
                scratch.meter.count(units_per_word);
                const std::string_view word = covers.words_[k];
                if (word.empty()) continue;
                decode_into(word, scratch.chars);
                const Cover found = best_cover(scratch.chars, pieces, kind, scratch);
                covers.values_[k] = found.value;
                if (!(found.value > -1.0)) continue;
                // Back from the end, each piece's start; then the bytes where
                // those characters begin.
                const std::size_t n = scratch.chars.length();
                cut_before.assign(n, 0);
                for (std::size_t end = n; end > 0;) {
                    end = found.piece_start[end];
                    cut_before[end] = 1;
                }
                std::uint8_t* begins = covers.piece_begins_.data() + covers.words_.offset(k);
                for (std::size_t byte = 0, character = 0; byte < word.size(); ++byte)
                    if ((static_cast<unsigned char>(word[byte]) & 0xC0) != 0x80) begins[byte] = cut_before[character++];
            }
        }
    };
    run_sharing(std::min(worker_threads, queue.chunk_count()), queue, cover_claimed,
                [&] { interruption.ask_or_throw(); });
    return covers;
}

}  // namespace morvanex
