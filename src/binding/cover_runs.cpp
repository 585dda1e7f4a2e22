#include "cover_runs.hpp"

#include <utility>

#include "binding_failure.hpp"
#include "conversions.hpp"
#include "interpreter_lock.hpp"
#include "messages.hpp"

namespace morvanex::binding {
namespace {

// "root" or "affix"; anything else is a ValueError. Absent: a root.
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

}  // namespace

Result<WordCovers> run_word_covers(PyObject* const arguments[4], const char* const names[4]) {
    Result<StringList> words = string_list_from_object(arguments[0]);
    if (!words.ok()) return tie_error_to_argument(names[0], words.take_error());
    Result<InsertedScores> scores = score_table_from_object(arguments[1]);
    if (!scores.ok()) return tie_error_to_argument(names[1], scores.take_error());
    Result<InsertedStrings> whitelist = string_set_from_object(arguments[2]);
    if (!whitelist.ok()) return tie_error_to_argument(names[2], whitelist.take_error());
    Result<CandidateKind> kind = kind_from_object(arguments[3]);
    if (!kind.ok()) return kind.take_error();
    return run_engine<WordCovers>([&](std::size_t threads, Interruption& interruption) {
        return best_word_covers(std::move(words).value(), std::move(scores).value(), std::move(whitelist).value(),
                                kind.value(), threads, interruption);
    });
}

Result<OwnBestCovers> run_own_best_covers(PyObject* const arguments[4], const char* const names[4]) {
    Result<InsertedStrings> roots = string_set_from_object(arguments[0]);
    if (!roots.ok()) return tie_error_to_argument(names[0], roots.take_error());
    Result<InsertedStrings> affixes = string_set_from_object(arguments[1]);
    if (!affixes.ok()) return tie_error_to_argument(names[1], affixes.take_error());
    Result<InsertedScores> scores = score_table_from_object(arguments[2]);
    if (!scores.ok()) return tie_error_to_argument(names[2], scores.take_error());
    Result<InsertedStrings> whitelist = string_set_from_object(arguments[3]);
    if (!whitelist.ok()) return tie_error_to_argument(names[3], whitelist.take_error());
    return run_engine<OwnBestCovers>([&](std::size_t threads, Interruption& interruption) {
        return own_best_cover_table(std::move(roots).value(), std::move(affixes).value(), std::move(scores).value(),
                                    std::move(whitelist).value(), threads, interruption);
    });
}

OwnedRef kept_set(const OwnBestCovers& own) {
    OwnedRef kept = expect_created(PySet_New(nullptr));
    for (ResultTable::Entry entry = 0; entry < own.previous.size(); ++entry) {
        if (own.kept[entry] == 0) continue;
        if (PySet_Add(kept.get(), str_from_utf8(own.previous.key(entry)).get()) < 0)
            fail_with_error(messages::add_to_set_failed, fetch_pending_error());
    }
    return kept;
}

}  // namespace morvanex::binding
