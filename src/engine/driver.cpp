#include "driver.hpp"

#include <utility>

#include "byte_order.hpp"
#include "piece_index.hpp"
#include "scorer.hpp"

namespace morvanex {
namespace {

// The new score of `candidate` (non-empty) as a root or an affix.
double score_candidate(std::string_view candidate, bool is_affix, const PieceIndex& pieces,
                       ScorerScratch& scratch) {
    decode_into(candidate, scratch.chars);
    double best_cover = best_segmentation_score(scratch.chars, pieces, is_affix, scratch);
    double previous = scratch.whole_value.value_or(0.0);
    return updated_score(previous, best_cover, scratch.chars.length());
}

// Scores the distinct members of one candidate set. Values do not depend on
// the order within a pass, so candidates go in byte order, where neighbours
// share most trie nodes.
template <class EntryOf>
void score_pass(const StringSet& candidates, const std::vector<std::uint32_t>& in_byte_order, bool is_affix,
                const PieceIndex& pieces, ScorerScratch& scratch, ResultTable& result, EntryOf entry_of) {
    visit_prefetching(
        in_byte_order,
        [&](std::uint32_t position) {
            ResultTable::Entry entry = entry_of(position);
            if (entry == ResultTable::no_entry) return;  // the empty string gets no score
            result.set_value(entry, score_candidate(candidates[position], is_affix, pieces, scratch));
        },
        [&](std::uint32_t position) { candidates.strings().prefetch_record(position); },
        [&](std::uint32_t position) { candidates.strings().prefetch_text(position); });
}

}  // namespace

double updated_score(double previous, double best_cover, std::size_t length) {
    if (best_cover < 0.0) return previous;
    if (previous >= best_cover) return previous;
    double q = 1.0 / static_cast<double>(length);
    double d = best_cover + 1.0;
    return q / d;
}

ResultTable run_scoring_iteration(StringSet root_candidates, StringSet affix_candidates, ScoreTable scores,
                                  StringSet one_char_whitelist, std::size_t /*worker_threads*/) {
    ResultTable result(std::move(root_candidates), std::move(affix_candidates));
    if (result.size() == 0) return result;

    const PieceIndex pieces(scores, one_char_whitelist);
    ScorerScratch scratch;
    // All roots before any affix: a string in both sets ends with its affix value.
    score_pass(result.roots(), result.roots_in_byte_order(), false, pieces, scratch, result,
               [&](std::size_t position) { return result.root_entry(position); });
    score_pass(result.affixes(), result.affixes_in_byte_order(), true, pieces, scratch, result,
               [&](std::size_t position) { return result.affix_entry(position); });
    return result;
}

}  // namespace morvanex
