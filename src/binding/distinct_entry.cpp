// The entry of morvanex_covers.distinct_words: a word list without its
// repeats, each word at its first position, the very objects of the list.
#include <cstdint>
#include <utility>
#include <vector>

#include "binding_failure.hpp"
#include "conversions.hpp"
#include "covers_entries.hpp"
#include "entry_frame.hpp"
#include "first_occurrences.hpp"
#include "held_arguments.hpp"
#include "interpreter_lock.hpp"
#include "messages.hpp"

namespace morvanex::binding {
namespace {

// A tuple of the items `words` (a list or tuple) holds now: the positions the
// engine finds while the interpreter lock is released refer to it, whatever
// other threads do to the list meanwhile.
OwnedRef snapshot_of(PyObject* words) {
    if (is_tuple(words)) return OwnedRef::borrow(words);
    const Py_ssize_t size = PyList_Size(words);
    OwnedRef snapshot = expect_created(PyTuple_New(size));
    for (Py_ssize_t k = 0; k < size; ++k) {
        PyObject* item = PyList_GetItem(words, k);
        Py_IncRef(item);
        PyTuple_SetItem(snapshot.get(), k, item);  // steals
    }
    return snapshot;
}

Result<OwnedRef> distinct_words_body(PyObject* positional, PyObject* keywords) {
    static const char* const names[] = {"words", nullptr};
    Result<HeldArguments<1>> parsed = HeldArguments<1>::parse(positional, keywords, "O:distinct_words", names);
    if (!parsed.ok()) return parsed.take_error();
    PyObject* const argument = parsed.value()[0];
    if (!is_list(argument) && !is_tuple(argument))
        return tie_error_to_argument(names[0], type_mismatch_error(argument, messages::target_word_list));
    const OwnedRef words = snapshot_of(argument);
    Result<StringList> texts = string_list_from_object(words.get());
    if (!texts.ok()) return tie_error_to_argument(names[0], texts.take_error());
    Result<std::vector<std::uint32_t>> firsts =
        run_engine<std::vector<std::uint32_t>>([&](std::size_t threads, Interruption& interruption) {
            return first_occurrences(texts.value(), threads, interruption);
        });
    if (!firsts.ok()) return firsts.take_error();
    OwnedRef distinct = expect_created(PyList_New(static_cast<Py_ssize_t>(firsts.value().size())));
    for (std::size_t k = 0; k < firsts.value().size(); ++k) {
        PyObject* word = PyTuple_GetItem(words.get(), static_cast<Py_ssize_t>(firsts.value()[k]));
        Py_IncRef(word);
        PyList_SetItem(distinct.get(), static_cast<Py_ssize_t>(k), word);  // steals
    }
    return distinct;
}

}  // namespace

PyMethodDef distinct_words_method = keyword_method<distinct_words_body>(
    "distinct_words", "distinct_words(words)\n--\n\n"
                      "The words of `words` (a list or tuple of str) without repeats, each at\n"
                      "its first position, as a new list of the same objects:\n"
                      "list(dict.fromkeys(words)) for strs, by one sort instead of a hash\n"
                      "lookup per word.");

}  // namespace morvanex::binding
