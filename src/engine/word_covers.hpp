#pragma once
// The best covers of a list of words, pieces and values, from the search that
// scores candidates: each word is covered as a root or as an affix exactly as
// a candidate of that kind is, so a cover's value is bit for bit the N of the
// update rule, and among covers of equal value the one kept is the one whose
// last piece starts earliest, position by position from the end.
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "candidate_kind.hpp"
#include "driver.hpp"
#include "interruption.hpp"
#include "piece_index.hpp"
#include "string_list.hpp"

namespace morvanex {

class WordCovers {
public:
    explicit WordCovers(StringList words);

    std::size_t size() const { return words_.size(); }
    const StringList& words() const { return words_; }
    // The value of word k's best cover; -1.0 when it has none (and for the
    // empty word).
    double value(std::size_t k) const { return values_[k]; }
    // Whether word k has a cover with pieces recorded.
    bool covered(std::size_t k) const { return values_[k] > -1.0; }
    // Calls piece(text) for each piece of word k's best cover, in order; the
    // word must be covered().
    template <class Visit>
    void for_each_piece(std::size_t k, Visit piece) const {
        assert(covered(k));
        const std::string_view word = words_[k];
        const std::size_t first = words_.offset(k);
        std::size_t begin = 0;
        for (std::size_t end = 1; end <= word.size(); ++end) {
            if (end < word.size() && piece_begins_[first + end] == 0) continue;
            piece(word.substr(begin, end - begin));
            begin = end;
        }
    }

private:
    friend WordCovers best_word_covers(StringList, const PieceIndex&, CandidateKind, std::size_t, Interruption&,
                                       const OwnBestCovers*);
    // Word k takes the cover found for word `from`.
    void copy_cover(std::size_t k, std::size_t from);
    StringList words_;
    std::vector<double> values_;              // per word
    std::vector<std::uint8_t> piece_begins_;  // per byte: 1 where a piece of its word's cover begins
};

// Covers every word of `words` (repeats and empty words included) as `kind`
// by `pieces` (index_pieces), on up to `worker_threads` threads; the calling
// thread asks `interruption` at bounded intervals of the work. The distinct
// words are covered in byte order, where neighbours share the walks of their
// common beginning, and repeats take the cover of their first occurrence. A
// root that `known_roots` (an own-best search over the same `pieces`) scored
// as a root takes the cover found there.
WordCovers best_word_covers(StringList words, const PieceIndex& pieces, CandidateKind kind, std::size_t worker_threads,
                            Interruption& interruption, const OwnBestCovers* known_roots = nullptr);

// A piece of some covers, and how many words' covers use it (a word that
// uses it twice counts once).
struct PieceUse {
    std::string_view piece;  // in the covers' words
    std::size_t words;
};

// Every piece of the covered words' covers with its use, in byte order.
std::vector<PieceUse> piece_uses(const WordCovers& covers);

}  // namespace morvanex
