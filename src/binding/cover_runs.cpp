#include "cover_runs.hpp"

#include <optional>
#include <string_view>
#include <utility>

#include "binding_failure.hpp"
#include "conversions.hpp"
#include "interpreter_lock.hpp"
#include "messages.hpp"

namespace morvanex::binding {
namespace {

// Runs `search(index, threads, interruption)` on the engine, over the index
// that `pieces` holds or over one made in the same run.
template <class Value, class Search>
Result<Value> run_search(SearchPieces& pieces, Search search) {
    return run_engine<Value>([&](std::size_t threads, Interruption& interruption) {
        if (const PieceIndex* const* index = std::get_if<const PieceIndex*>(&pieces))
            return search(**index, threads, interruption);
        UnindexedPieces& unindexed = std::get<UnindexedPieces>(pieces);
        const PieceIndex index =
            index_pieces(std::move(unindexed.scores), unindexed.one_char_whitelist, threads, interruption);
        return search(index, threads, interruption);
    });
}

}  // namespace

Result<UnindexedPieces> pieces_from_objects(PyObject* scores, PyObject* one_char_whitelist, const char* scores_name,
                                            const char* whitelist_name) {
    Result<InsertedScores> table = score_table_from_object(scores);
    if (!table.ok()) return tie_error_to_argument(scores_name, table.take_error());
    Result<InsertedStrings> whitelist = string_set_from_object(one_char_whitelist);
    if (!whitelist.ok()) return tie_error_to_argument(whitelist_name, whitelist.take_error());
    return UnindexedPieces{std::move(table).value(), std::move(whitelist).value()};
}

Result<CandidateKind> kind_from_object(PyObject* object) {
    if (object == nullptr) return CandidateKind::root;
    if (is_str(object)) {
        Result<Utf8Text> text = string_from_object(object);
        if (!text.ok()) return text.take_error();
        if (text.value().view() == "root") return CandidateKind::root;
        if (text.value().view() == "affix") return CandidateKind::affix;
    }
    return ErrorValue::with_message(PyExc_ValueError, messages::bad_kind);
}

Result<std::unique_ptr<const PieceIndex>> run_index_pieces(InsertedScores scores,
                                                           const InsertedStrings& one_char_whitelist) {
    return run_engine<std::unique_ptr<const PieceIndex>>([&](std::size_t threads, Interruption& interruption) {
        return std::make_unique<const PieceIndex>(
            index_pieces(std::move(scores), one_char_whitelist, threads, interruption));
    });
}

Result<WordCovers> run_word_covers(SearchPieces pieces, StringList words, CandidateKind kind,
                                   const OwnBestCovers* known_roots) {
    return run_search<WordCovers>(
        pieces, [&](const PieceIndex& index, std::size_t threads, Interruption& interruption) {
            return best_word_covers(std::move(words), index, kind, threads, interruption, known_roots);
        });
}

Result<OwnBestCovers> run_own_best_covers(SearchPieces pieces, InsertedStrings roots, InsertedStrings affixes) {
    return run_search<OwnBestCovers>(
        pieces, [&](const PieceIndex& index, std::size_t threads, Interruption& interruption) {
            return own_best_cover_table(std::move(roots), std::move(affixes), index, threads, interruption);
        });
}

OwnedRef kept_set(const OwnBestCovers& own) {
    OwnedRef kept = expect_created(PySet_New(nullptr));
    for (ResultTable::Entry entry = 0; entry < own.previous.size(); ++entry) {
        if (!own.kept(entry)) continue;
        if (PySet_Add(kept.get(), str_from_utf8(own.previous.key(entry)).get()) < 0)
            fail_with_error(messages::add_to_set_failed, fetch_pending_error());
    }
    return kept;
}

OwnedRef list_from_covers(const WordCovers& covers) {
    OwnedRef list = expect_created(PyList_New(static_cast<Py_ssize_t>(covers.size())));
    for (std::size_t k = 0; k < covers.size(); ++k) {
        Py_ssize_t piece_count = 0;
        if (covers.covered(k)) covers.for_each_piece(k, [&](std::string_view) { ++piece_count; });
        OwnedRef pieces = expect_created(PyTuple_New(piece_count));
        Py_ssize_t next = 0;
        if (covers.covered(k))
            covers.for_each_piece(k, [&](std::string_view piece) {
                PyTuple_SetItem(pieces.get(), next++, str_from_utf8(piece).release());  // steals
            });
        // Tuples of str and float cannot be part of a cycle, and the cyclic
        // collector untracks them itself once it meets them; untracked at
        // once, millions of them do not make each collection meanwhile walk
        // them all (which doubled the time of a call on 4.3 M words).
        PyObject_GC_UnTrack(pieces.get());
        OwnedRef pair = pair_of(std::move(pieces), expect_created(PyFloat_FromDouble(covers.value(k))));
        PyObject_GC_UnTrack(pair.get());
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(k), pair.release());
    }
    return list;
}

OwnedRef dict_of_piece_uses(const WordCovers& covers) {
    OwnedRef dict = expect_created(PyDict_New());
    for (const PieceUse& use : piece_uses(covers)) {
        const OwnedRef words = expect_created(PyLong_FromSize_t(use.words));
        if (PyDict_SetItem(dict.get(), str_from_utf8(use.piece).get(), words.get()) < 0)
            fail_with_error(messages::set_item_failed, fetch_pending_error());
    }
    return dict;
}

}  // namespace morvanex::binding
