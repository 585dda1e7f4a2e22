#include "score_table_type.hpp"

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "binding_failure.hpp"
#include "conversions.hpp"
#include "cover_runs.hpp"
#include "driver.hpp"
#include "entry_frame.hpp"
#include "held_arguments.hpp"
#include "interpreter_lock.hpp"
#include "messages.hpp"
#include "row_writers.hpp"
#include "scores_json_input.hpp"
#include "scores_json_text.hpp"

namespace morvanex::binding {
namespace {

// What a table holds: its pieces, made at its first search when it comes
// from scores that are in byte order already; those scores, then, beside
// the pieces, since writing them out or updating them from there is a walk
// over one array instead of a walk over the index; its whitelist, which the
// tables that updated() makes share; and the last own-best search over its
// pieces, whose root covers later root searches reuse. All but the pieces
// live in capsules, so that a run holds them by a reference of its own while
// another thread may release or replace them (a std::shared_ptr would need a
// newer C library than the wheels' oldest), and none is ever copied. Once
// made, the pieces are never replaced.
struct TableState {
    OwnedRef one_char_whitelist;  // a capsule of InsertedStrings
    OwnedRef entries;             // a capsule of InsertedScores, each key once in byte order, or null
    std::unique_ptr<const PieceIndex> pieces;
    OwnedRef known_roots;  // a capsule of an OwnBestCovers, or null
};

struct ScoreTableObject {
    PyObject_HEAD TableState* state;  // owned; null only while the instance is made
};

TableState& state_of(PyObject* self) { return *reinterpret_cast<ScoreTableObject*>(self)->state; }

constexpr const char* whitelist_name = "morvanex_covers.ScoreTable whitelist";
constexpr const char* entries_name = "morvanex_covers.ScoreTable scores";
constexpr const char* known_roots_name = "morvanex_covers.ScoreTable known roots";

template <class Value>
void delete_held(PyObject* capsule) {
    delete static_cast<const Value*>(PyCapsule_GetPointer(capsule, PyCapsule_GetName(capsule)));
}

// A new capsule named `name` that owns `value`.
template <class Value>
OwnedRef capsule_holding(Value value, const char* name) {
    auto held = std::make_unique<const Value>(std::move(value));
    OwnedRef capsule = expect_created(PyCapsule_New(const_cast<Value*>(held.get()), name, &delete_held<Value>));
    held.release();  // the capsule's now
    return capsule;
}

// What the capsule named `name` holds; null for no capsule.
template <class Value>
const Value* held_in(const OwnedRef& capsule, const char* name) {
    if (!capsule) return nullptr;
    return static_cast<const Value*>(PyCapsule_GetPointer(capsule.get(), name));
}

const InsertedStrings& whitelist_in(const OwnedRef& capsule) {
    return *held_in<InsertedStrings>(capsule, whitelist_name);
}
const InsertedScores& scores_in(const OwnedRef& capsule) { return *held_in<InsertedScores>(capsule, entries_name); }
const OwnBestCovers* known_roots_in(const OwnedRef& capsule) {
    return held_in<OwnBestCovers>(capsule, known_roots_name);
}

// The table's pieces, indexed now if they are not yet: on this thread
// alone, keeping the interpreter lock, so that no other thread sees them
// half made.
Result<const PieceIndex*> pieces_of(PyObject* self) {
    TableState& state = state_of(self);
    if (state.pieces) return state.pieces.get();
    // A signal handler may search this table meanwhile: the scores stay
    // held, and the first index made is kept.
    const OwnedRef held = OwnedRef::borrow(state.entries.get());
    const InsertedScores& scores = scores_in(held);
    std::unique_ptr<const PieceIndex> index;
    Result<Done> done = run_engine_keeping_lock([&](Interruption& interruption) {
        index = std::make_unique<const PieceIndex>(scores, positions_in_order(scores),
                                                   whitelist_in(state.one_char_whitelist), &interruption);
    });
    if (!done.ok()) return done.take_error();
    if (!state.pieces) state.pieces = std::move(index);
    return state.pieces.get();
}

// A new instance of `type` with `state`, which holds pieces or scores.
OwnedRef table_with(PyTypeObject* type, TableState state) {
    const auto allocate = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    OwnedRef table = expect_created(allocate(type, 0));
    reinterpret_cast<ScoreTableObject*>(table.get())->state = new TableState(std::move(state));
    return table;
}

// A new instance of `type` holding the index of `pieces`.
Result<OwnedRef> indexed_table(PyTypeObject* type, UnindexedPieces pieces) {
    OwnedRef whitelist = capsule_holding(std::move(pieces.one_char_whitelist), whitelist_name);
    Result<std::unique_ptr<const PieceIndex>> index =
        run_index_pieces(std::move(pieces.scores), whitelist_in(whitelist));
    if (!index.ok()) return index.take_error();
    return table_with(type, TableState{std::move(whitelist), OwnedRef(), std::move(index).value(), OwnedRef()});
}

Result<OwnedRef> new_body(PyTypeObject* type, PyObject* positional, PyObject* keywords) {
    static const char* const names[] = {"scores", "one_char_whitelist", nullptr};
    Result<HeldArguments<2>> parsed = HeldArguments<2>::parse(positional, keywords, "OO:ScoreTable", names);
    if (!parsed.ok()) return parsed.take_error();
    const HeldArguments<2>& argument = parsed.value();
    Result<UnindexedPieces> pieces = pieces_from_objects(argument[0], argument[1], names[0], names[1]);
    if (!pieces.ok()) return pieces.take_error();
    return indexed_table(type, std::move(pieces).value());
}

// ScoreTable.from_json: the scores read from their JSON text, without a
// Python object per score.
Result<OwnedRef> from_json_body(PyObject* cls, PyObject* positional, PyObject* keywords) {
    static const char* const names[] = {"data", "one_char_whitelist", "start", "keys", nullptr};
    Result<HeldArguments<4>> parsed = HeldArguments<4>::parse(positional, keywords, "OO|OO:from_json", names);
    if (!parsed.ok()) return parsed.take_error();
    const HeldArguments<4>& argument = parsed.value();
    Result<std::string_view> text = json_text_of(argument[0], names[0]);
    if (!text.ok()) return text.take_error();
    Result<InsertedStrings> whitelist = string_set_from_object(argument[1]);
    if (!whitelist.ok()) return tie_error_to_argument(names[1], whitelist.take_error());
    Result<std::size_t> start = json_start_of(argument[2], names[2]);
    if (!start.ok()) return start.take_error();
    std::optional<InsertedStrings> wanted;
    if (argument[3] != nullptr && argument[3] != Py_None) {
        Result<InsertedStrings> keys = string_set_from_object(argument[3]);
        if (!keys.ok()) return tie_error_to_argument(names[3], keys.take_error());
        wanted.emplace(std::move(keys).value());
    }
    Result<ScoresJson> read = read_json_members(text.value(), start.value(), wanted ? &*wanted : nullptr);
    if (!read.ok()) return read.take_error();
    const ScoresJson& members = read.value();
    UnindexedPieces pieces{InsertedScores(members.numbers.size()), std::move(whitelist).value()};
    JsonNumbers numbers;
    for (std::size_t k = 0; k < members.numbers.size(); ++k) {
        // Millions of conversions: a signal handler gets its turn now and then.
        if (k % 65536 == 65535 && PyErr_CheckSignals() < 0) return fetch_pending_error();
        Result<double> value = numbers.value(members.numbers[k]);
        if (!value.ok()) return value.take_error();
        pieces.scores.insert(members.keys[k], value.value());
    }
    Result<OwnedRef> table = indexed_table(reinterpret_cast<PyTypeObject*>(cls), std::move(pieces));
    if (!table.ok()) return table.take_error();
    return pair_of(std::move(table).value(), expect_created(PyLong_FromSize_t(members.end)));
}

// ScoreTable.updated: the scores of a dict put over this table's, which
// come from the scores it holds, or else are read back from its index,
// instead of being taken in again. The new table holds the merged scores
// beside its index.
Result<OwnedRef> updated_body(PyObject* self, PyObject* positional, PyObject* keywords) {
    static const char* const names[] = {"scores", nullptr};
    Result<HeldArguments<1>> parsed = HeldArguments<1>::parse(positional, keywords, "O:updated", names);
    if (!parsed.ok()) return parsed.take_error();
    Result<InsertedScores> updates = score_table_from_object(parsed.value()[0]);
    if (!updates.ok()) return tie_error_to_argument(names[0], updates.take_error());
    InsertedScores to_put = std::move(updates).value();
    const TableState& state = state_of(self);
    OwnedRef whitelist = OwnedRef::borrow(state.one_char_whitelist.get());
    const OwnedRef entries = OwnedRef::borrow(state.entries.get());
    const PieceIndex* const pieces = state.pieces.get();
    struct Updated {
        InsertedScores entries;
        std::unique_ptr<const PieceIndex> pieces;
    };
    Result<Updated> made = run_engine<Updated>([&](std::size_t threads, Interruption& interruption) {
        InsertedScores merged = entries ? updated_in_byte_order(scores_in(entries), to_put, threads, interruption)
                                        : updated_in_byte_order(pieces->entries_in_byte_order(&interruption), to_put,
                                                                threads, interruption);
        to_put = InsertedScores();  // released before the index grows
        auto index = std::make_unique<const PieceIndex>(merged, positions_in_order(merged), whitelist_in(whitelist),
                                                        &interruption);
        return Updated{std::move(merged), std::move(index)};
    });
    if (!made.ok()) return made.take_error();
    Updated& table = made.value();
    return table_with(Py_TYPE(self),
                      TableState{std::move(whitelist), capsule_holding(std::move(table.entries), entries_name),
                                 std::move(table.pieces), OwnedRef()});
}

PyObject* new_entry(PyTypeObject* type, PyObject* positional, PyObject* keywords) {
    return entry_frame([&] { return new_body(type, positional, keywords); });
}

void dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    delete reinterpret_cast<ScoreTableObject*>(self)->state;
    reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free))(self);
    Py_DecRef(reinterpret_cast<PyObject*>(type));
}

// The covers of the words given to best_covers or piece_uses (`format`
// names the method), as `kind`.
Result<WordCovers> word_covers_of(PyObject* self, PyObject* positional, PyObject* keywords, const char* format) {
    static const char* const names[] = {"words", "kind", nullptr};
    Result<HeldArguments<2>> parsed = HeldArguments<2>::parse(positional, keywords, format, names);
    if (!parsed.ok()) return parsed.take_error();
    const HeldArguments<2>& argument = parsed.value();
    Result<StringList> words = string_list_from_object(argument[0]);
    if (!words.ok()) return tie_error_to_argument(names[0], words.take_error());
    Result<CandidateKind> kind = kind_from_object(argument[1]);
    if (!kind.ok()) return kind.take_error();
    Result<const PieceIndex*> pieces = pieces_of(self);
    if (!pieces.ok()) return pieces.take_error();
    const OwnedRef known_roots = OwnedRef::borrow(state_of(self).known_roots.get());
    return run_word_covers(pieces.value(), std::move(words).value(), kind.value(), known_roots_in(known_roots));
}

Result<OwnedRef> best_covers_body(PyObject* self, PyObject* positional, PyObject* keywords) {
    Result<WordCovers> covers = word_covers_of(self, positional, keywords, "O|O:best_covers");
    if (!covers.ok()) return covers.take_error();
    return list_from_covers(covers.value());
}

Result<OwnedRef> piece_uses_body(PyObject* self, PyObject* positional, PyObject* keywords) {
    Result<WordCovers> covers = word_covers_of(self, positional, keywords, "O|O:piece_uses");
    if (!covers.ok()) return covers.take_error();
    return dict_of_piece_uses(covers.value());
}

// The own-best search over the candidates `roots` and `affixes`, which
// the table then keeps for later root searches: a reference to its capsule.
Result<OwnedRef> own_best_covers_of(PyObject* self, PyObject* roots, PyObject* affixes, const char* const names[]) {
    Result<InsertedStrings> root_set = candidate_strings_from_object(roots);
    if (!root_set.ok()) return tie_error_to_argument(names[0], root_set.take_error());
    Result<InsertedStrings> affix_set = candidate_strings_from_object(affixes);
    if (!affix_set.ok()) return tie_error_to_argument(names[1], affix_set.take_error());
    Result<const PieceIndex*> pieces = pieces_of(self);
    if (!pieces.ok()) return pieces.take_error();
    Result<OwnBestCovers> own =
        run_own_best_covers(pieces.value(), std::move(root_set).value(), std::move(affix_set).value());
    if (!own.ok()) return own.take_error();
    OwnedRef capsule = capsule_holding(std::move(own).value(), known_roots_name);
    state_of(self).known_roots = OwnedRef::borrow(capsule.get());
    return capsule;
}

Result<OwnedRef> own_best_covers_body(PyObject* self, PyObject* positional, PyObject* keywords) {
    static const char* const names[] = {"root_candidates", "affix_candidates", nullptr};
    Result<HeldArguments<2>> parsed = HeldArguments<2>::parse(positional, keywords, "OO:own_best_covers", names);
    if (!parsed.ok()) return parsed.take_error();
    const HeldArguments<2>& argument = parsed.value();
    Result<OwnedRef> own = own_best_covers_of(self, argument[0], argument[1], names);
    if (!own.ok()) return own.take_error();
    return kept_set(*known_roots_in(own.value()));
}

Result<OwnedRef> write_candidate_rows_body(PyObject* self, PyObject* positional, PyObject* keywords) {
    static const char* const names[] = {"root_candidates", "affix_candidates", "write", nullptr};
    Result<HeldArguments<3>> parsed = HeldArguments<3>::parse(positional, keywords, "OOO:write_candidate_rows", names);
    if (!parsed.ok()) return parsed.take_error();
    const HeldArguments<3>& argument = parsed.value();
    Result<OwnedRef> own = own_best_covers_of(self, argument[0], argument[1], names);
    if (!own.ok()) return own.take_error();
    const OwnBestCovers& found = *known_roots_in(own.value());
    BlockWriter writer(argument[2]);
    if (Result<Done> written = write_candidate_rows(found, writer); !written.ok()) return written.take_error();
    return kept_set(found);
}

Result<OwnedRef> write_segment_rows_body(PyObject* self, PyObject* positional, PyObject* keywords) {
    static const char* const names[] = {"words", "write", "separator", nullptr};
    Result<HeldArguments<3>> parsed = HeldArguments<3>::parse(positional, keywords, "OO|O:write_segment_rows", names);
    if (!parsed.ok()) return parsed.take_error();
    const HeldArguments<3>& argument = parsed.value();
    Result<StringList> words = string_list_from_object(argument[0]);
    if (!words.ok()) return tie_error_to_argument(names[0], words.take_error());
    std::string separator = "+";
    if (argument[2] != nullptr) {
        if (!is_str(argument[2]))
            return tie_error_to_argument(names[2], type_mismatch_error(argument[2], messages::target_string));
        Result<Utf8Text> text = string_from_object(argument[2]);
        if (!text.ok()) return tie_error_to_argument(names[2], text.take_error());
        separator = text.value().view();
    }
    Result<const PieceIndex*> pieces = pieces_of(self);
    if (!pieces.ok()) return pieces.take_error();
    const OwnedRef known_roots = OwnedRef::borrow(state_of(self).known_roots.get());
    Result<WordCovers> covers =
        run_word_covers(pieces.value(), std::move(words).value(), CandidateKind::root, known_roots_in(known_roots));
    if (!covers.ok()) return covers.take_error();
    BlockWriter writer(argument[1]);
    if (Result<Done> written = write_segment_rows(covers.value(), separator, writer); !written.ok())
        return written.take_error();
    return OwnedRef::borrow(Py_None);
}

// ScoreTable.write_scores_json: the table's scores in byte order, from the
// scores it holds or else read back from its index, without a walk over the
// dict they came from.
Result<OwnedRef> write_scores_json_body(PyObject* self, PyObject* positional, PyObject* keywords) {
    static const char* const names[] = {"write", nullptr};
    Result<HeldArguments<1>> parsed = HeldArguments<1>::parse(positional, keywords, "O:write_scores_json", names);
    if (!parsed.ok()) return parsed.take_error();
    const TableState& state = state_of(self);
    const OwnedRef entries = OwnedRef::borrow(state.entries.get());
    BlockWriter writer(parsed.value()[0]);
    ScoresJsonText json(writer);
    std::optional<ErrorValue> failed;
    auto member = [&](std::string_view key, double value) {
        Result<Done> written = json.member(key, value);
        if (!written.ok()) failed = written.take_error();
        return !failed;
    };
    if (entries) {
        // The empty key, which no search uses, is left out as the index leaves it out.
        const InsertedScores& scores = scores_in(entries);
        for (std::size_t k = 0; k < scores.size(); ++k)
            if (!scores.key(k).empty() && !member(scores.key(k), scores.value(k))) break;
    } else {
        // Straight from the index to the text: a copy of millions of keys would cost more than the walk.
        const PieceIndex* const pieces = state.pieces.get();
        Result<Done> walked = run_engine_keeping_lock(
            [&](Interruption& interruption) { pieces->visit_in_byte_order(member, &interruption); });
        if (!walked.ok()) return walked.take_error();
    }
    if (failed) return std::move(*failed);
    if (Result<Done> written = json.finish(); !written.ok()) return written.take_error();
    return OwnedRef::borrow(Py_None);
}

PyMethodDef methods[] = {
    keyword_method_of_class<from_json_body>("from_json",
                                            "from_json($type, data, one_char_whitelist, start=0, keys=None)\n--\n\n"
                                            "(table, end): a ScoreTable of the scores whose JSON text begins at byte\n"
                                            "`start` of `data` (bytes), as read_scores_json(data, start) reads them,\n"
                                            "and `one_char_whitelist`; and the byte just past the scores' closing\n"
                                            "brace. The scores go from the text to the index without a Python object\n"
                                            "each: a saved session's millions load several times sooner than as a\n"
                                            "dict first. Given `keys` (a set of str), the table holds the scores of\n"
                                            "those keys only (the rest of the text is read and checked all the same):\n"
                                            "the substrings of a few words to cover, say."),
    keyword_method_of_class<from_substring_frequencies_body>(
        "from_substring_frequencies", "from_substring_frequencies($type, words, max_length, one_char_whitelist)\n--\n\n"
                                      "(table, frequencies): substring_frequencies(words, max_length), and a\n"
                                      "ScoreTable of those scores and `one_char_whitelist`, counted once. The\n"
                                      "table holds the counted scores as they are, indexes them when first\n"
                                      "searched and keeps them beside the index; updated() puts other scores\n"
                                      "over them without that: a session's table of its final scores, made as\n"
                                      "its initial scores with the last result put over them, takes no walk\n"
                                      "over millions of dict entries."),
    keyword_method_of_instance<updated_body>(
        "updated", "updated($self, scores)\n--\n\n"
                   "A new ScoreTable of this table's scores with those of `scores` (a dict,\n"
                   "as the constructor takes it) put over them, as dict.update puts them, and\n"
                   "this table's whitelist: ScoreTable(merged, one_char_whitelist) for the\n"
                   "dict this table was made from, so updated, without taking its scores in\n"
                   "again. The new table holds the merged scores beside its index, from\n"
                   "which write_scores_json() and updated() read them. This table is\n"
                   "unchanged."),
    keyword_method_of_instance<best_covers_body>(
        "best_covers", "best_covers($self, words, kind='root')\n--\n\n"
                       "morvanex_covers.best_covers(words, scores, one_char_whitelist, kind) for\n"
                       "this table's scores and whitelist."),
    keyword_method_of_instance<piece_uses_body>(
        "piece_uses", "piece_uses($self, words, kind='root')\n--\n\n"
                      "{piece: how many of `words` have a best cover (as best_covers(words,\n"
                      "kind) finds it) that uses the piece}, a word that uses a piece twice\n"
                      "counted once, in the pieces' code point order: the units of a vocabulary\n"
                      "ranked by use, without a tuple per word and a str per piece."),
    keyword_method_of_instance<own_best_covers_body>(
        "own_best_covers", "own_best_covers($self, root_candidates, affix_candidates)\n--\n\n"
                           "morvanex_covers.own_best_covers(root_candidates, affix_candidates,\n"
                           "scores, one_char_whitelist) for this table's scores and whitelist. Either\n"
                           "candidates argument may also be a list or tuple of str, whose repeats\n"
                           "count once: a word list, whose strings are read in the order they were\n"
                           "made, where those of a set of millions are read out of order."),
    keyword_method_of_instance<write_candidate_rows_body>(
        "write_candidate_rows", "write_candidate_rows($self, root_candidates, affix_candidates, write)\n--\n\n"
                                "own_best_covers(root_candidates, affix_candidates), after handing `write`\n"
                                "(a binary file's write, say) a line for every non-empty candidate, in\n"
                                "code point order, as UTF-8 bytes in blocks of about a megabyte: the\n"
                                "candidate, its kind ('root', 'affix', or 'both' for a string in both\n"
                                "sets), its length in characters, its score as repr() writes it (0.0 when\n"
                                "the table has none, as in run_scoring_iteration) and 'yes' or 'no' for\n"
                                "whether it is its own best cover, separated by tabs; a backslash, tab,\n"
                                "newline or carriage return in the candidate is written as \\\\, \\t, \\n\n"
                                "or \\r. An exception that `write` raises ends the call."),
    keyword_method_of_instance<write_segment_rows_body>(
        "write_segment_rows", "write_segment_rows($self, words, write, separator='+')\n--\n\n"
                              "Hands `write` (a binary file's write, say) a line for each word of\n"
                              "`words` (a list or tuple of str), in order, as UTF-8 bytes in blocks of\n"
                              "about a megabyte: the word, the pieces of its best cover as a root\n"
                              "joined by `separator` (empty without a cover), and the cover's value as\n"
                              "repr() writes it (-1.0 without a cover), separated by tabs; a\n"
                              "backslash, tab, newline or carriage return in the first two is written\n"
                              "as \\\\, \\t, \\n or \\r. An exception that `write` raises ends the call."),
    keyword_method_of_instance<write_scores_json_body>(
        "write_scores_json", "write_scores_json($self, write)\n--\n\n"
                             "morvanex_covers.write_scores_json(scores, write) for this table's scores\n"
                             "in code point order: every key of the dict it was made from but the empty\n"
                             "one, which no search uses, with its last value. The scores are read back\n"
                             "from the table instead of walked in the dict, whose millions of entries\n"
                             "lie all over memory."),
    {nullptr, nullptr, 0, nullptr},
};

char type_doc[] = "ScoreTable(scores, one_char_whitelist)\n--\n\n"
                  "A score table and one-character whitelist, taken as run_scoring_iteration\n"
                  "takes them and indexed once, for any number of searches: best_covers and\n"
                  "own_best_covers do what the module functions of those names do with these\n"
                  "scores and whitelist, without taking them in again, and the write_\n"
                  "methods write what they find as lines of text (write_scores_json the\n"
                  "scores themselves). The table keeps the root covers of its last own-best\n"
                  "search (own_best_covers or write_candidate_rows), which later root\n"
                  "searches of the same strings take instead of searching again. Later\n"
                  "changes to `scores` do not reach the table; updated() makes a new one\n"
                  "with other scores put over them. MORVANEX_NUM_THREADS and Ctrl-C act as\n"
                  "in a call.";

PyType_Slot slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(&new_entry)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc)},
    {Py_tp_methods, methods},
    {Py_tp_doc, type_doc},
    {0, nullptr},
};

PyType_Spec spec = {"morvanex_covers.ScoreTable", static_cast<int>(sizeof(ScoreTableObject)), 0, Py_TPFLAGS_DEFAULT,
                    slots};

}  // namespace

OwnedRef unindexed_table(PyTypeObject* type, InsertedScores scores, InsertedStrings one_char_whitelist) {
    return table_with(type, TableState{capsule_holding(std::move(one_char_whitelist), whitelist_name),
                                       capsule_holding(std::move(scores), entries_name), nullptr, OwnedRef()});
}

Result<OwnedRef> make_score_table_type() {
    OwnedRef type = OwnedRef::steal(PyType_FromSpec(&spec));
    if (!type) return fetch_pending_error();
    return type;
}

}  // namespace morvanex::binding
