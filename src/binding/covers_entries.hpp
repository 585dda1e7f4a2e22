#pragma once
// The functions of morvanex_covers, as the method definitions from which its
// initialisation makes the function objects: the covers (cover_entries.cpp),
// the counters (count_entries.cpp), the repeats of a word list
// (distinct_entry.cpp), the merge of a call's result
// (merge_entry.cpp) and the JSON text of scores, written and read
// (json_entry.cpp). Its type,
// ScoreTable, is in score_table_type.
//
// Ownership contract: each definition lives for the whole process and is
// never changed; a function object made from it refers to it for as long as
// that object lives.
#include "python_handles.hpp"

namespace morvanex::binding {

extern PyMethodDef best_covers_method;
extern PyMethodDef own_best_covers_method;
extern PyMethodDef substring_counts_method;
extern PyMethodDef substring_frequencies_method;
extern PyMethodDef affix_counts_method;
extern PyMethodDef distinct_words_method;
extern PyMethodDef merge_scores_method;
extern PyMethodDef write_scores_json_method;
extern PyMethodDef read_scores_json_method;

}  // namespace morvanex::binding
