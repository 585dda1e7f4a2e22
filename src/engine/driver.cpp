#include "driver.hpp"

#include <utility>

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
    if (result.roots().empty() && result.affixes().empty()) return result;

    const PieceIndex pieces(scores, one_char_whitelist);
    ScorerScratch scratch;
    const StringSet& roots = result.roots();
    for (std::size_t position = 0; position < roots.size(); ++position)
        if (!roots[position].empty())
            result.add_root(position, score_candidate(roots[position], false, scores, pieces, scratch));
    const StringSet& affixes = result.affixes();
    for (std::size_t position = 0; position < affixes.size(); ++position)
        if (!affixes[position].empty())
            result.add_affix(position, score_candidate(affixes[position], true, scores, pieces, scratch));
    return result;
}

}  // namespace morvanex
