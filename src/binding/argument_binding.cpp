#include "argument_binding.hpp"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

#include "messages.hpp"
#include "object_text.hpp"

namespace morvanex::binding {
namespace {

ErrorValue binding_error(std::string message) { return ErrorValue::with_message(PyExc_TypeError, std::move(message)); }

ErrorValue unexpected_keyword(PyObject* key) { return binding_error(messages::unexpected_keyword(object_text(key))); }

// The slot of the parameter named `text`, or parameter_count when none.
std::size_t parameter_slot(std::string_view text) {
    for (std::size_t slot = 0; slot < parameter_count; ++slot)
        if (text == parameter_names[slot]) return slot;
    return parameter_count;
}

}  // namespace

Result<BoundArguments> bind_arguments(PyObject* positional, PyObject* keywords) {
    BoundArguments slots;
    const Py_ssize_t given = PyTuple_Size(positional);
    const std::size_t bound_by_position = std::min(static_cast<std::size_t>(given), parameter_count);
    for (std::size_t slot = 0; slot < bound_by_position; ++slot)
        slots[slot] = OwnedRef::borrow(PyTuple_GetItem(positional, static_cast<Py_ssize_t>(slot)));
    if (static_cast<std::size_t>(given) > parameter_count) return binding_error(messages::too_many_positional(given));

    if (keywords != nullptr) {
        Py_ssize_t cursor = 0;
        PyObject* borrowed_key = nullptr;
        PyObject* borrowed_value = nullptr;
        while (PyDict_Next(keywords, &cursor, &borrowed_key, &borrowed_value)) {
            // Owned while examined: naming the key in a message runs its
            // __str__, which is Python code.
            OwnedRef key = OwnedRef::borrow(borrowed_key);
            OwnedRef value = OwnedRef::borrow(borrowed_value);
            if (!is_str(key.get())) return unexpected_keyword(key.get());
            OwnedRef utf8 = OwnedRef::steal(PyUnicode_AsUTF8String(key.get()));
            if (!utf8) {
                ignore_error(fetch_pending_error());
                return unexpected_keyword(key.get());
            }
            std::string_view text(PyBytes_AsString(utf8.get()), static_cast<std::size_t>(PyBytes_Size(utf8.get())));
            std::size_t slot = parameter_slot(text);
            if (slot == parameter_count) return unexpected_keyword(key.get());
            if (slots[slot]) return binding_error(messages::multiple_values(text));
            slots[slot] = std::move(value);
        }
    }

    std::array<const char*, parameter_count> missing{};
    std::size_t missing_count = 0;
    for (std::size_t slot = bound_by_position; slot < parameter_count; ++slot)
        if (!slots[slot]) missing[missing_count++] = parameter_names[slot];
    if (missing_count > 0) return binding_error(messages::missing_arguments(missing.data(), missing_count));
    return slots;
}

}  // namespace morvanex::binding
