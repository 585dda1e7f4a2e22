// The entries of morvanex_covers.substring_counts, substring_frequencies and
// affix_counts: a word list and a largest length in, dicts from the counted
// strings to their counts (or relative frequencies) out; and
// ScoreTable.from_substring_frequencies, the frequencies with a table of them.
#include <cstdint>
#include <utility>
#include <vector>

#include "beginning_counts.hpp"
#include "binding_failure.hpp"
#include "conversions.hpp"
#include "covers_entries.hpp"
#include "dict_storing_hashes.hpp"
#include "entry_frame.hpp"
#include "held_arguments.hpp"
#include "interpreter_lock.hpp"
#include "messages.hpp"
#include "score_table_type.hpp"
#include "utf8.hpp"

namespace morvanex::binding {
namespace {

struct CountArguments {
    StringList words;
    std::size_t max_length;
    std::size_t min_count = 1;
};

constexpr const char* count_names[] = {"words", "max_length", "min_count", nullptr};

// The words, max_length and, unless null, min_count.
Result<CountArguments> count_arguments(PyObject* words_object, PyObject* max_length_object,
                                       PyObject* min_count_object = nullptr) {
    Result<StringList> words = string_list_from_object(words_object);
    if (!words.ok()) return tie_error_to_argument(count_names[0], words.take_error());
    Result<std::size_t> max_length = index_from_object(max_length_object, messages::negative_max_length);
    if (!max_length.ok()) return tie_error_to_argument(count_names[1], max_length.take_error());
    CountArguments counted{std::move(words).value(), max_length.value()};
    if (min_count_object != nullptr) {
        Result<std::size_t> min_count = index_from_object(min_count_object, messages::negative_min_count);
        if (!min_count.ok()) return tie_error_to_argument(count_names[2], min_count.take_error());
        counted.min_count = min_count.value();
    }
    return counted;
}

// The strings counted at least `min_count` times, with their counts.
OwnedRef dict_from_counts(const CountedStrings& counted, std::uint64_t min_count = 0) {
    DictStoringHashes dict;
    for (std::size_t k = 0; k < counted.counts.size(); ++k) {
        if (counted.counts[k] < min_count) continue;
        OwnedRef key = str_from_utf8(counted.strings[k]);
        OwnedRef count = expect_created(PyLong_FromUnsignedLongLong(counted.counts[k]));
        if (PyDict_SetItem(dict.get(), key.get(), count.get()) < 0)
            fail_with_error(messages::set_item_failed, fetch_pending_error());
    }
    return std::move(dict).take();
}

// Each count divided by the sum of the counts of the strings of its length,
// which for substrings is how many substrings of that length the words hold:
// the relative frequencies, made here so that millions of counts need no
// Python pass. Both counts are below 2^53, so each quotient is the one that
// Python's int / int gives.
struct Frequencies {
    std::vector<std::size_t> lengths;  // of each counted string, in characters
    std::vector<double> values;        // of each counted string
};

Frequencies frequencies_of(const CountedStrings& counted) {
    Frequencies frequencies{std::vector<std::size_t>(counted.counts.size()), {}};
    std::vector<std::uint64_t> totals;
    for (std::size_t k = 0; k < counted.counts.size(); ++k) {
        const std::size_t length = frequencies.lengths[k] = decoded_length(counted.strings[k]);
        if (length >= totals.size()) totals.resize(length + 1);
        totals[length] += counted.counts[k];
    }
    frequencies.values.reserve(counted.counts.size());
    for (std::size_t k = 0; k < counted.counts.size(); ++k)
        frequencies.values.push_back(static_cast<double>(counted.counts[k]) /
                                     static_cast<double>(totals[frequencies.lengths[k]]));
    return frequencies;
}

// The counted strings with their frequencies, as a dict in their order,
// made with signal checks between its entries.
Result<OwnedRef> dict_from_frequencies(const CountedStrings& counted, const Frequencies& frequencies) {
    // Most substrings are seen a handful of times, so few frequencies are
    // distinct: strings of one short length and one small count share a float
    // object, and millions of keys need a few thousand floats, which every
    // later walk over the values (each call's intake, the merges, the saved
    // JSON) finds in cache.
    constexpr std::size_t shared_lengths = 64, shared_counts = 256;
    std::vector<OwnedRef> shared_frequency(shared_lengths * shared_counts);
    DictStoringHashes dict;
    Result<Done> made = run_engine_keeping_lock([&](Interruption& interruption) {
        WorkMeter meter(&interruption);
        for (std::size_t k = 0; k < counted.counts.size(); ++k) {
            meter.count(1);
            OwnedRef key = str_from_utf8(counted.strings[k]);
            OwnedRef unshared;
            const std::size_t length = frequencies.lengths[k];
            const bool shared = length < shared_lengths && counted.counts[k] < shared_counts;
            OwnedRef& frequency =
                shared ? shared_frequency[length * shared_counts + static_cast<std::size_t>(counted.counts[k])]
                       : unshared;
            if (!frequency) frequency = expect_created(PyFloat_FromDouble(frequencies.values[k]));
            if (PyDict_SetItem(dict.get(), key.get(), frequency.get()) < 0)
                fail_with_error(messages::set_item_failed, fetch_pending_error());
        }
    });
    if (!made.ok()) return made.take_error();
    return std::move(dict).take();
}

Result<CountedStrings> counted_substrings(const CountArguments& arguments) {
    return run_engine<CountedStrings>([&](std::size_t, Interruption& interruption) {
        return substring_counts(arguments.words, arguments.max_length, interruption);
    });
}

Result<CountedStrings> counted_substrings(PyObject* positional, PyObject* keywords, const char* format) {
    static const char* const names[] = {count_names[0], count_names[1], nullptr};
    Result<HeldArguments<2>> argument = HeldArguments<2>::parse(positional, keywords, format, names);
    if (!argument.ok()) return argument.take_error();
    Result<CountArguments> arguments = count_arguments(argument.value()[0], argument.value()[1]);
    if (!arguments.ok()) return arguments.take_error();
    return counted_substrings(arguments.value());
}

Result<OwnedRef> substring_counts_body(PyObject* positional, PyObject* keywords) {
    Result<CountedStrings> counted = counted_substrings(positional, keywords, "OO:substring_counts");
    if (!counted.ok()) return counted.take_error();
    return dict_from_counts(counted.value());
}

Result<OwnedRef> substring_frequencies_body(PyObject* positional, PyObject* keywords) {
    Result<CountedStrings> counted = counted_substrings(positional, keywords, "OO:substring_frequencies");
    if (!counted.ok()) return counted.take_error();
    return dict_from_frequencies(counted.value(), frequencies_of(counted.value()));
}

Result<OwnedRef> affix_counts_body(PyObject* positional, PyObject* keywords) {
    Result<HeldArguments<3>> argument = HeldArguments<3>::parse(positional, keywords, "OO|O:affix_counts", count_names);
    if (!argument.ok()) return argument.take_error();
    Result<CountArguments> arguments = count_arguments(argument.value()[0], argument.value()[1], argument.value()[2]);
    if (!arguments.ok()) return arguments.take_error();
    using Counts = std::pair<CountedStrings, CountedStrings>;
    Result<Counts> counted = run_engine<Counts>([&](std::size_t, Interruption& interruption) {
        return affix_counts(arguments.value().words, arguments.value().max_length, interruption);
    });
    if (!counted.ok()) return counted.take_error();
    // Only the few shared affixes become Python objects: a session keeps a
    // fraction of a percent of them.
    OwnedRef prefixes = dict_from_counts(counted.value().first, arguments.value().min_count);
    OwnedRef suffixes = dict_from_counts(counted.value().second, arguments.value().min_count);
    return pair_of(std::move(prefixes), std::move(suffixes));
}

}  // namespace

// The dict of substring_frequencies and a table of the same scores: the
// table takes the counted strings, in byte order already, as they are, and
// indexes them when first searched, which a session's initial table never is.
Result<OwnedRef> from_substring_frequencies_body(PyObject* cls, PyObject* positional, PyObject* keywords) {
    static const char* const names[] = {count_names[0], count_names[1], "one_char_whitelist", nullptr};
    Result<HeldArguments<3>> argument =
        HeldArguments<3>::parse(positional, keywords, "OOO:from_substring_frequencies", names);
    if (!argument.ok()) return argument.take_error();
    Result<CountArguments> arguments = count_arguments(argument.value()[0], argument.value()[1]);
    if (!arguments.ok()) return arguments.take_error();
    Result<InsertedStrings> whitelist = string_set_from_object(argument.value()[2]);
    if (!whitelist.ok()) return tie_error_to_argument(names[2], whitelist.take_error());
    Result<CountedStrings> counted = counted_substrings(arguments.value());
    if (!counted.ok()) return counted.take_error();
    Frequencies frequencies = frequencies_of(counted.value());
    Result<OwnedRef> dict = dict_from_frequencies(counted.value(), frequencies);
    if (!dict.ok()) return dict.take_error();
    InsertedScores scores(std::move(counted).value().strings, std::move(frequencies.values));
    OwnedRef table =
        unindexed_table(reinterpret_cast<PyTypeObject*>(cls), std::move(scores), std::move(whitelist).value());
    return pair_of(std::move(table), std::move(dict).value());
}

PyMethodDef substring_counts_method = keyword_method<substring_counts_body>(
    "substring_counts", "substring_counts(words, max_length)\n--\n\n"
                        "Every substring of 1 to `max_length` characters of every word of `words`\n"
                        "(a list or tuple of str), with its number of occurrences over the whole\n"
                        "list (a word listed twice counts twice), as a dict whose keys come in\n"
                        "code point order (sorted).");

PyMethodDef substring_frequencies_method = keyword_method<substring_frequencies_body>(
    "substring_frequencies", "substring_frequencies(words, max_length)\n--\n\n"
                             "The keys of substring_counts(words, max_length), in the same order, each\n"
                             "with its count divided by the number of substrings of its length in the\n"
                             "words: its relative frequency among them, as a float.");

PyMethodDef affix_counts_method = keyword_method<affix_counts_body>(
    "affix_counts", "affix_counts(words, max_length, min_count=1)\n--\n\n"
                    "(prefixes, suffixes): for each length from 1 to `max_length` characters,\n"
                    "the prefix and the suffix of that length of every word of `words` (a list\n"
                    "or tuple of str) longer than that length, with how many such words have\n"
                    "it, for those that at least `min_count` words have. The prefixes' keys\n"
                    "come in code point order (sorted); the suffixes' in the order of their\n"
                    "characters read from the end.");

}  // namespace morvanex::binding
