// The entry of morvanex_covers.merge_scores: a call's result merged into the
// scores it was given, counting the values that changed bit for bit, in one
// walk instead of a comparison and an update over millions of entries each.
#include <cstdint>
#include <cstring>
#include <utility>

#include "binding_failure.hpp"
#include "conversions.hpp"
#include "covers_entries.hpp"
#include "entry_frame.hpp"
#include "held_arguments.hpp"
#include "messages.hpp"

namespace morvanex::binding {
namespace {

bool is_exact_float(PyObject* object) { return Py_TYPE(object) == &PyFloat_Type; }
bool is_exact_str(PyObject* object) { return Py_TYPE(object) == &PyUnicode_Type; }

std::uint64_t bits_of(double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Whether `earlier` (null when absent) holds a double other than `later`'s, bit for bit.
Result<bool> value_changed(PyObject* earlier, PyObject* later) {
    if (earlier == nullptr) return true;
    Result<double> before = double_from_object(earlier);
    if (!before.ok()) return before.take_error();
    Result<double> after = double_from_object(later);
    if (!after.ok()) return after.take_error();
    return bits_of(before.value()) != bits_of(after.value());
}

// The entry of `merged_before` at its walk's next position, when that
// position holds the same exact str as `key`; else nulls. Exact strs compare
// without running Python code.
std::pair<PyObject*, PyObject*> entry_at_same_position(PyObject* merged_before, Py_ssize_t& cursor, PyObject* key) {
    PyObject* earlier_key = nullptr;
    PyObject* earlier_value = nullptr;
    if (merged_before == nullptr || !PyDict_Next(merged_before, &cursor, &earlier_key, &earlier_value)) return {};
    if (!is_exact_str(key) || !is_exact_str(earlier_key)) return {};
    if (earlier_key != key && PyUnicode_Compare(earlier_key, key) != 0) return {};
    return {earlier_key, earlier_value};
}

Result<OwnedRef> merge_scores_body(PyObject* positional, PyObject* keywords) {
    static const char* const names[] = {"scores", "result", "merged_before", nullptr};
    Result<HeldArguments<3>> parsed = HeldArguments<3>::parse(positional, keywords, "OO|O:merge_scores", names);
    if (!parsed.ok()) return parsed.take_error();
    const HeldArguments<3>& argument = parsed.value();
    PyObject* const scores = argument[0];
    PyObject* const result = argument[1];
    PyObject* const merged_before = argument[2] == Py_None ? nullptr : argument[2];
    // merged_before may be absent or None.
    const std::size_t given = merged_before ? 3 : 2;
    for (std::size_t k = 0; k < given; ++k)
        if (!is_dict(argument[k]))
            return tie_error_to_argument(names[k], type_mismatch_error(argument[k], messages::target_dict));

    const Py_ssize_t recorded_size = PyDict_Size(result);
    const Py_ssize_t recorded_before = merged_before ? PyDict_Size(merged_before) : 0;
    Py_ssize_t cursor = 0, cursor_before = 0;
    unsigned long long changed = 0;
    for (;;) {
        // A value's __float__, or a key's __eq__, is Python code that may change the dicts under the walk.
        if (PyDict_Size(result) != recorded_size || (merged_before && PyDict_Size(merged_before) != recorded_before))
            fail(messages::dict_changed_size);
        PyObject* borrowed_key = nullptr;
        PyObject* borrowed_value = nullptr;
        if (!PyDict_Next(result, &cursor, &borrowed_key, &borrowed_value)) break;
        const OwnedRef key = OwnedRef::borrow(borrowed_key);
        const OwnedRef value = OwnedRef::borrow(borrowed_value);
        // What scores holds for the key: told by the result merged before
        // (the same keys in the same order, call after call), else looked up.
        const auto [earlier_key, earlier_value] = entry_at_same_position(merged_before, cursor_before, key.get());
        OwnedRef earlier = OwnedRef::borrow(earlier_value);
        // The key object the previous merge put in, if any, is the one scores holds when that merge added the
        // key: found by identity, without comparing strings.
        const OwnedRef stored_key = OwnedRef::borrow(earlier_key ? earlier_key : key.get());
        if (!earlier) {
            earlier = OwnedRef::borrow(PyDict_GetItemWithError(scores, key.get()));
            if (!earlier && PyErr_Occurred() != nullptr) return fetch_pending_error();
        }
        Result<bool> differs = value_changed(earlier.get(), value.get());
        if (!differs.ok()) return differs.take_error();
        // The same double in a float of the same type: scores keeps its own object.
        if (!differs.value() && is_exact_float(earlier.get()) && is_exact_float(value.get())) continue;
        if (differs.value()) ++changed;
        if (PyDict_SetItem(scores, stored_key.get(), value.get()) < 0) return fetch_pending_error();
    }
    return expect_created(PyLong_FromUnsignedLongLong(changed));
}

}  // namespace

PyMethodDef merge_scores_method = keyword_method<merge_scores_body>(
    "merge_scores", "merge_scores(scores, result, merged_before=None)\n--\n\n"
                    "Merge `result` (a dict from str to float, as run_scoring_iteration returns\n"
                    "it) into `scores` in place, as scores.update(result) does, and return how\n"
                    "many of its entries `scores` lacked or held with another value, bit for\n"
                    "bit (so -0.0 differs from 0.0 and a NaN equals the same NaN). An entry\n"
                    "whose float holds the same value keeps its own float object.\n"
                    "\n"
                    "`merged_before`, when given, is the result that the previous merge put\n"
                    "into `scores`, which nothing has changed since: where it holds the same\n"
                    "key at the same position of its order as `result` (as the results of\n"
                    "calls with the same candidates do), its value is taken for the one\n"
                    "`scores` holds, and that key is not looked up.");

}  // namespace morvanex::binding
