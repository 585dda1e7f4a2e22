#include "driver.hpp"

#include "internal_failure.hpp"
#include "piece_index.hpp"
#include "scorer.hpp"

namespace morvanex {
namespace {

void score_candidates(const StringSet& candidates, bool is_affix, const ScoreTable& scores,
                      const PieceIndex& pieces, ScorerScratch& scratch, ScoreTable& result) {
    for (std::size_t position = 0; position < candidates.size(); ++position) {
        std::string_view candidate = candidates[position];
        if (candidate.empty()) continue;
        decode_into(candidate, scratch.chars);
        double best_cover = best_segmentation_score(scratch.chars, scores, pieces, is_affix, scratch);
        const double* previous = scores.find(candidate);
        double value = updated_score(previous ? *previous : 0.0, best_cover, scratch.chars.length());
        result.insert_or_assign(candidate, value);
    }
}

}  // namespace

double updated_score(double previous, double best_cover, std::size_t length) {
    if (best_cover < 0.0) return previous;
    if (previous >= best_cover) return previous;
    double q = 1.0 / static_cast<double>(length);
    double d = best_cover + 1.0;
    return q / d;
}

ScoreTable run_scoring_iteration(StringSet root_candidates, StringSet affix_candidates,
                                 ScoreTable scores, StringSet one_char_whitelist) {
    std::size_t roots = root_candidates.size();
    std::size_t affixes = affix_candidates.size();
    if (roots + affixes < roots) throw InternalFailure("Hash table capacity overflow");
    ScoreTable result(roots + affixes);
    if (roots + affixes == 0) return result;

    PieceIndex pieces(scores, one_char_whitelist);
    ScorerScratch scratch;
    score_candidates(root_candidates, false, scores, pieces, scratch, result);
    score_candidates(affix_candidates, true, scores, pieces, scratch, result);
    return result;
}

}  // namespace morvanex
