#include "conversions.hpp"

#include <string>

#include "binding_failure.hpp"
#include "interned_names.hpp"
#include "messages.hpp"
#include "object_text.hpp"

namespace morvanex::binding {
namespace {

std::string type_name_for_message(PyObject* type) {
    OwnedRef qualname = OwnedRef::steal(PyObject_GetAttr(type, interned::qualname()));
    if (!qualname) {
        ignore_error(fetch_pending_error());
        return messages::unknown_type_name;
    }
    if (!is_str(qualname.get())) return messages::unknown_type_name;
    Result<Utf8Text> text = string_from_object(qualname.get());
    if (!text.ok()) {
        ignore_error(text.take_error());
        return messages::unknown_type_name;
    }
    return std::string(text.value().view());
}

}  // namespace

ErrorValue type_mismatch_error(PyObject* object, const char* target) {
    OwnedRef type = OwnedRef::borrow(reinterpret_cast<PyObject*>(Py_TYPE(object)));
    std::string message = messages::cannot_convert(type_name_for_message(type.get()), target);
    return ErrorValue::with_message(PyExc_TypeError, std::move(message));
}

Result<Utf8Text> string_from_object(PyObject* object) {
    if (!is_str(object)) return type_mismatch_error(object, messages::target_string);
#if MORVANEX_UTF8_IN_PLACE
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(object, &size);
    if (data == nullptr) return fetch_pending_error();
    return Utf8Text(std::string_view(data, static_cast<std::size_t>(size)));
#else
    OwnedRef bytes = OwnedRef::steal(PyUnicode_AsUTF8String(object));
    if (!bytes) return fetch_pending_error();
    std::string_view view(PyBytes_AsString(bytes.get()), static_cast<std::size_t>(PyBytes_Size(bytes.get())));
    return Utf8Text(view, std::move(bytes));
#endif
}

Result<double> double_from_object(PyObject* object) {
    double value = PyFloat_AsDouble(object);
    // -1.0 is also the failure signal; only a pending exception tells.
    if (value == -1.0 && PyErr_Occurred() != nullptr) return fetch_pending_error();
    return value;
}

Result<std::size_t> index_from_object(PyObject* object, const char* negative) {
    OwnedRef index = OwnedRef::steal(PyNumber_Index(object));
    if (!index) return fetch_pending_error();
    const Py_ssize_t value = PyLong_AsSsize_t(index.get());
    if (value == -1 && PyErr_Occurred() != nullptr) return fetch_pending_error();
    if (value < 0) return ErrorValue::with_message(PyExc_ValueError, negative);
    return static_cast<std::size_t>(value);
}

Result<InsertedStrings> string_set_from_object(PyObject* object) {
    // A frozenset takes the same path as a set; the mismatch names PySet.
    if (!is_set(object) && !is_frozenset(object)) return type_mismatch_error(object, messages::target_set);

    OwnedRef iterator;
    Py_ssize_t expected = 0;
    {
        OwnedRef held = OwnedRef::borrow(object);
        iterator = OwnedRef::steal(PyObject_GetIter(held.get()));
        if (!iterator) fail_with_error(messages::set_iteration_failed, fetch_pending_error());
        // Only an estimate: a subclass's iterator may yield something else.
        expected = PySet_Size(held.get());
    }

    // Only a subclass's own __iter__ can yield one string many times.
    const bool exact = Py_TYPE(object) == &PySet_Type || Py_TYPE(object) == &PyFrozenSet_Type;
    InsertedStrings set(expected > 0 ? static_cast<std::size_t>(expected) : 0,
                        exact ? InsertedStrings::Source::distinct : InsertedStrings::Source::may_repeat);
    for (;;) {
        OwnedRef item = OwnedRef::steal(PyIter_Next(iterator.get()));
        if (!item) {
            if (PyErr_Occurred() != nullptr) fail_with_error(messages::set_iteration_failed, fetch_pending_error());
            break;  // exhausted
        }
        Result<Utf8Text> text = string_from_object(item.get());
        if (!text.ok()) return text.take_error();
        set.insert(text.value().view());
    }
    return set;
}

Result<InsertedStrings> candidate_strings_from_object(PyObject* object) {
    if (is_set(object) || is_frozenset(object)) return string_set_from_object(object);
    if (!is_list(object) && !is_tuple(object)) return type_mismatch_error(object, messages::target_candidates);
    Result<StringList> items = string_list_from_object(object);
    if (!items.ok()) return items.take_error();
    return InsertedStrings(std::move(items).value());
}

Result<StringList> string_list_from_object(PyObject* object) {
    const bool list = is_list(object);
    if (!list && !is_tuple(object)) return type_mismatch_error(object, messages::target_word_list);
    OwnedRef held = OwnedRef::borrow(object);
    StringList words(static_cast<std::size_t>(list ? PyList_Size(object) : PyTuple_Size(object)));
    // The size is read at every step: nothing here runs Python code, but the
    // list is not ours.
    for (Py_ssize_t k = 0; k < (list ? PyList_Size(object) : PyTuple_Size(object)); ++k) {
        OwnedRef item = OwnedRef::borrow(list ? PyList_GetItem(object, k) : PyTuple_GetItem(object, k));
        Result<Utf8Text> text = string_from_object(item.get());
        if (!text.ok()) return text.take_error();
        words.add(text.value().view());
    }
    return words;
}

bool DictItems::next(OwnedRef& key, OwnedRef& value) {
    // The previous item goes first: releasing it may run Python code, which
    // must not run between taking the next item and holding it.
    value = OwnedRef();
    key = OwnedRef();
    if (PyDict_Size(dict_) != recorded_size_) fail(messages::dict_changed_size);
    if (remaining_ == -1) fail(messages::dict_keys_changed);
    PyObject* borrowed_key = nullptr;
    PyObject* borrowed_value = nullptr;
    if (!PyDict_Next(dict_, &cursor_, &borrowed_key, &borrowed_value)) return false;
    --remaining_;
    key = OwnedRef::borrow(borrowed_key);
    value = OwnedRef::borrow(borrowed_value);
    return true;
}

Result<InsertedScores> score_table_from_object(PyObject* object) {
    if (!is_dict(object)) return type_mismatch_error(object, messages::target_dict);

    const OwnedRef dict = OwnedRef::borrow(object);
    DictItems items(dict.get());
    InsertedScores table(items.size());
    // A value's __float__ is Python code that may change the dict (or let
    // another thread change it) between two steps of the walk.
    for (OwnedRef key, value; items.next(key, value);) {
        Result<Utf8Text> text = string_from_object(key.get());
        if (!text.ok()) return text.take_error();
        Result<double> number = double_from_object(value.get());
        if (!number.ok()) return number.take_error();
        table.insert(text.value().view(), number.value());
    }
    return table;
}

ErrorValue tie_error_to_argument(std::string_view parameter, ErrorValue error) {
    // Only exactly TypeError is reworded; its subclasses pass unchanged.
    if (error.normalized_type() != PyExc_TypeError) return error;
    PyObject* original = error.normalized_value();
    if (original == nullptr) return error;

    ErrorValue reworded =
        ErrorValue::with_message(PyExc_TypeError, messages::for_argument(parameter, object_text(original)));
    // PyException_SetCause steals the cause and marks __suppress_context__,
    // also when the cause is null (then __cause__ reads None).
    OwnedRef cause = OwnedRef::steal(PyException_GetCause(original));
    PyException_SetCause(reworded.normalized_value(), cause.release());
    return reworded;
}

OwnedRef str_from_utf8(std::string_view text) {
    return expect_created(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

OwnedRef pair_of(OwnedRef first, OwnedRef second) {
    OwnedRef pair = expect_created(PyTuple_New(2));
    PyTuple_SetItem(pair.get(), 0, first.release());  // steals
    PyTuple_SetItem(pair.get(), 1, second.release());
    return pair;
}

OwnedRef dict_from_score_table(ResultTable table) {
    OwnedRef dict = expect_created(PyDict_New());
    for (ResultTable::Entry entry = 0; entry < table.size(); ++entry) {
        OwnedRef key = str_from_utf8(table.key(entry));
        OwnedRef value = expect_created(PyFloat_FromDouble(table.value(entry)));
        if (PyDict_SetItem(dict.get(), key.get(), value.get()) < 0)
            fail_with_error(messages::set_item_failed, fetch_pending_error());
    }
    return dict;
}

}  // namespace morvanex::binding
