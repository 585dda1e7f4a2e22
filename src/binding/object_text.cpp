#include "object_text.hpp"

#include <new>

#include "failure.hpp"
#include "interned_names.hpp"
#include "pending_error.hpp"
#include "type_tests.hpp"

namespace morvanex::binding {
namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";  // U+FFFD

std::string render(PyObject* object, PyObject* (*to_str)(PyObject*)) {
    OwnedRef text = OwnedRef::steal(to_str(object));
    if (text) return str_text(text.get());

    // The exception from str()/repr() is still pending: report it as
    // unraisable, then name the object by its type. Out of memory, the text
    // is not worth more than the call.
    if (PyErr_ExceptionMatches(PyExc_MemoryError)) {
        PyErr_Clear();
        throw std::bad_alloc();
    }
    PyErr_WriteUnraisable(object);
    OwnedRef name = OwnedRef::steal(
        PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(object)), interned::name()));
    if (!name) {
        drop_pending_error();
        return "<unprintable object>";
    }
    if (!is_str(name.get())) return "<unprintable object>";
    return "<unprintable " + object_text(name.get()) + " object>";
}

// Length of the well-formed UTF-8 sequence at the start of `rest`, or of the
// maximal subpart of an ill-formed one (as a negative number, at least 1).
long sequence_length(std::string_view rest) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(rest[i]); };
    unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    long needed;
    unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        needed = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        needed = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        needed = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return -1;
    }
    for (long i = 1; i < needed; ++i) {
        if (static_cast<std::size_t>(i) >= rest.size()) return -i;
        unsigned char next = byte(static_cast<std::size_t>(i));
        unsigned char lo = i == 1 ? low : 0x80;
        unsigned char hi = i == 1 ? high : 0xBF;
        if (next < lo || next > hi) return -i;
    }
    return needed;
}

}  // namespace

std::string str_text(PyObject* text) {
    OwnedRef bytes = expect_created(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
    const char* data = PyBytes_AsString(bytes.get());
    Py_ssize_t size = PyBytes_Size(bytes.get());
    return utf8_lossy(std::string_view(data, static_cast<std::size_t>(size)));
}

std::string utf8_lossy(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        long length = sequence_length(bytes);
        if (length > 0) {
            out.append(bytes.substr(0, static_cast<std::size_t>(length)));
            bytes.remove_prefix(static_cast<std::size_t>(length));
        } else {
            out.append(replacement);
            bytes.remove_prefix(static_cast<std::size_t>(-length));
        }
    }
    return out;
}

std::string object_text(PyObject* object) { return render(object, PyObject_Str); }

std::string object_repr_text(PyObject* object) { return render(object, PyObject_Repr); }

std::string diagnostic_text(ErrorValue& error) {
    std::string text = "PyErr { type: ";
    text += object_repr_text(error.normalized_type());
    text += ", value: ";
    PyObject* value = error.normalized_value();
    text += value ? object_repr_text(value) : std::string("None");
    text += ", traceback: ";
    if (PyObject* traceback = error.normalized_traceback()) {
        text += "Some(";
        text += object_repr_text(traceback);
        text += ")";
    } else {
        text += "None";
    }
    text += " }";
    return text;
}

}  // namespace morvanex::binding
