// The entry of morvanex_covers.merge_scores: a call's result merged into the
// scores it was given, counting the values that changed bit for bit, in one
// walk instead of a comparison and an update over millions of entries each.
#include <cstdint>
#include <cstring>

#include "binding_failure.hpp"
#include "conversions.hpp"
#include "covers_entries.hpp"
#include "entry_frame.hpp"
#include "messages.hpp"

namespace morvanex::binding {
namespace {

bool is_exact_float(PyObject* object) { return Py_TYPE(object) == &PyFloat_Type; }

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

Result<OwnedRef> merge_scores_body(PyObject* positional, PyObject* keywords) {
    static const char* const names[] = {"scores", "result", nullptr};
    PyObject* scores_argument = nullptr;
    PyObject* result_argument = nullptr;
    if (!PyArg_ParseTupleAndKeywords(positional, keywords, "OO:merge_scores", const_cast<char**>(names),
                                     &scores_argument, &result_argument))
        return fetch_pending_error();
    const OwnedRef scores = OwnedRef::borrow(scores_argument);
    const OwnedRef result = OwnedRef::borrow(result_argument);
    if (!is_dict(scores.get()))
        return tie_error_to_argument(names[0], type_mismatch_error(scores.get(), messages::target_dict));
    if (!is_dict(result.get()))
        return tie_error_to_argument(names[1], type_mismatch_error(result.get(), messages::target_dict));

    const Py_ssize_t recorded_size = PyDict_Size(result.get());
    Py_ssize_t cursor = 0;
    unsigned long long changed = 0;
    for (;;) {
        // A value's __float__, or a key's __eq__, is Python code that may change the result under the walk.
        if (PyDict_Size(result.get()) != recorded_size) fail(messages::dict_changed_size);
        PyObject* borrowed_key = nullptr;
        PyObject* borrowed_value = nullptr;
        if (!PyDict_Next(result.get(), &cursor, &borrowed_key, &borrowed_value)) break;
        const OwnedRef key = OwnedRef::borrow(borrowed_key);
        const OwnedRef value = OwnedRef::borrow(borrowed_value);
        const OwnedRef earlier = OwnedRef::borrow(PyDict_GetItemWithError(scores.get(), key.get()));
        if (!earlier && PyErr_Occurred() != nullptr) return fetch_pending_error();
        Result<bool> differs = value_changed(earlier.get(), value.get());
        if (!differs.ok()) return differs.take_error();
        // The same double in a float of the same type: scores keeps its own object.
        if (!differs.value() && is_exact_float(earlier.get()) && is_exact_float(value.get())) continue;
        if (differs.value()) ++changed;
        if (PyDict_SetItem(scores.get(), key.get(), value.get()) < 0) return fetch_pending_error();
    }
    return expect_created(PyLong_FromUnsignedLongLong(changed));
}

}  // namespace

PyMethodDef merge_scores_method = keyword_method<merge_scores_body>(
    "merge_scores", "merge_scores(scores, result)\n--\n\n"
                    "Merge `result` (a dict from str to float, as run_scoring_iteration returns\n"
                    "it) into `scores` in place, as scores.update(result) does, and return how\n"
                    "many of its entries `scores` lacked or held with another value, bit for\n"
                    "bit (so -0.0 differs from 0.0 and a NaN equals the same NaN). An entry\n"
                    "whose float holds the same value keeps its own float object.");

}  // namespace morvanex::binding
