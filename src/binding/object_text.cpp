#include "object_text.hpp"

#include <cstddef>
#include <optional>
#include <string_view>

#include "binding_failure.hpp"
#include "interned_names.hpp"
#include "messages.hpp"
#include "utf8_lossy.hpp"

namespace morvanex::binding {
namespace {

std::string render(PyObject* object, PyObject* (*to_str)(PyObject*)) {
    OwnedRef text = OwnedRef::steal(to_str(object));
    if (text) return str_text(text.get());

    // The exception from str()/repr() is still pending: report it as
    // unraisable, then name the object by its type. Out of memory, no text is
    // worth more than the call.
    unwind_if_out_of_memory();
    PyErr_WriteUnraisable(object);
    OwnedRef name = OwnedRef::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(object)), interned::name()));
    if (!name) {
        ignore_error(fetch_pending_error());
        return messages::unprintable_object;
    }
    if (!is_str(name.get())) return messages::unprintable_object;
    return messages::unprintable(object_text(name.get()));
}

}  // namespace

std::string object_text(PyObject* object) { return render(object, PyObject_Str); }

std::string str_text(PyObject* text) {
    OwnedRef bytes = expect_created(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
    const char* data = PyBytes_AsString(bytes.get());
    Py_ssize_t size = PyBytes_Size(bytes.get());
    return utf8_lossy(std::string_view(data, static_cast<std::size_t>(size)));
}

std::string diagnostic_text(ErrorValue& error) {
    // Rendered in this order, since each repr() may run Python code.
    std::string type = render(error.normalized_type(), PyObject_Repr);
    std::optional<std::string> value;
    if (PyObject* object = error.normalized_value()) value = render(object, PyObject_Repr);
    std::optional<std::string> traceback;
    if (PyObject* object = error.normalized_traceback()) traceback = render(object, PyObject_Repr);
    return messages::error_diagnostic(type, value, traceback);
}

}  // namespace morvanex::binding
