// Initialisation of morvanex_covers: PyInit_morvanex_covers, the module's
// only exported symbol, makes the module with its nine functions, the
// ScoreTable type and __version__ (module_setup).
#include "covers_entries.hpp"
#include "entry_frame.hpp"
#include "module_setup.hpp"
#include "python_handles.hpp"
#include "score_table_type.hpp"

namespace morvanex::binding {
namespace {

PyModuleDef covers_module_definition = single_phase_definition(
    "morvanex_covers", "Covers and counts beside morvanex, from the same engine.\n"
                       "\n"
                       "best_covers gives the pieces and value of each word's best cover, the\n"
                       "search that morvanex.run_scoring_iteration runs; own_best_covers tells\n"
                       "which candidates an iteration leaves with their own score; a ScoreTable\n"
                       "takes scores in once for many such searches, and writes what they find\n"
                       "as lines of text;\n"
                       "substring_counts, substring_frequencies and affix_counts count what a\n"
                       "vocabulary's scores are usually made from; distinct_words drops a word\n"
                       "list's repeats; merge_scores merges a call's\n"
                       "result into its scores; write_scores_json writes scores as JSON and\n"
                       "read_scores_json reads them back.\n"
                       "Positions and lengths count characters; read_scores_json's count bytes.");

}  // namespace
}  // namespace morvanex::binding

MORVANEX_MODULE_INIT PyInit_morvanex_covers() {
    using namespace morvanex::binding;
    return entry_frame([] {
        return initialise_module(covers_module_definition,
                                 {&best_covers_method, &own_best_covers_method, &substring_counts_method,
                                  &substring_frequencies_method, &affix_counts_method, &distinct_words_method,
                                  &merge_scores_method, &write_scores_json_method, &read_scores_json_method},
                                 {&make_score_table_type});
    });
}
