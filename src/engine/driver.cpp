#include "driver.hpp"

#include <cstdint>
#include <utility>

#include "byte_order.hpp"
#include "piece_index.hpp"
#include "scorer.hpp"

namespace morvanex {
namespace {

// The new score of `candidate` (non-empty) as a root or an affix.
double score_candidate(std::string_view candidate, bool is_affix, const ScoreTable& scores,
                       const PieceIndex& pieces, ScorerScratch& scratch) {
    decode_into(candidate, scratch.chars);
    double best_cover = best_segmentation_score(scratch.chars, pieces, is_affix, scratch);
    const double* previous = scores.find(candidate);
    return updated_score(previous ? *previous : 0.0, best_cover, scratch.chars.length());
}

// Scores every candidate of one pass. Values do not depend on the order, so
// candidates go in byte order, where neighbours share most trie nodes.
template <class EntryOf>
void score_pass(const StringSet& candidates, bool is_affix, const ScoreTable& scores, const PieceIndex& pieces,
                ScorerScratch& scratch, ResultTable& result, EntryOf entry_of) {
    std::vector<std::uint32_t> order(candidates.size());
    for (std::size_t position = 0; position < order.size(); ++position)
        order[position] = static_cast<std::uint32_t>(position);
    sort_by_bytes(order, [&](std::uint32_t position) { return candidates[position]; });
    visit_prefetching(
        order,
        [&](std::uint32_t position) {
            ResultTable::Entry entry = entry_of(position);
            if (entry == ResultTable::no_entry) return;  // the empty string gets no score
            result.set_value(entry, score_candidate(candidates[position], is_affix, scores, pieces, scratch));
        },
        [&](std::uint32_t position) { candidates.prefetch_record(position); },
        [&](std::uint32_t position) { candidates.prefetch_text(position); });
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
                                  StringSet one_char_whitelist) {
    ResultTable result(std::move(root_candidates), std::move(affix_candidates));
    if (result.size() == 0) return result;

    const PieceIndex pieces(scores, one_char_whitelist);
    ScorerScratch scratch;
    // All roots before any affix: a string in both sets ends with its affix value.
    score_pass(result.roots(), false, scores, pieces, scratch, result,
               [&](std::size_t position) { return result.root_entry(position); });
    score_pass(result.affixes(), true, scores, pieces, scratch, result,
               [&](std::size_t position) { return result.affix_entry(position); });
    return result;
}

}  // namespace morvanex
