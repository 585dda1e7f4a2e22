#include "type_mismatch.hpp"

#include <new>

#include "conversion.hpp"
#include "interned_names.hpp"
#include "pending_error.hpp"
#include "type_tests.hpp"

namespace morvanex::binding {
namespace {

std::string type_name_for_message(PyObject* type) {
    static constexpr const char* unknown = "<failed to extract type name>";
    OwnedRef qualname = OwnedRef::steal(PyObject_GetAttr(type, interned::qualname()));
    if (!qualname) {
        drop_pending_error();
        return unknown;
    }
    if (!is_str(qualname.get())) return unknown;
    Result<Utf8Text> text = string_from_object(qualname.get());
    if (text.ok()) return std::string(text.value().view());
    if (text.take_error().matches(PyExc_MemoryError)) throw std::bad_alloc();
    return unknown;
}

}  // namespace

ErrorValue type_mismatch_error(PyObject* object, const char* target) {
    OwnedRef type = OwnedRef::borrow(reinterpret_cast<PyObject*>(Py_TYPE(object)));
    std::string message = "'";
    message += type_name_for_message(type.get());
    message += "' object cannot be converted to '";
    message += target;
    message += "'";
    return ErrorValue::with_message(PyExc_TypeError, std::move(message));
}

}  // namespace morvanex::binding
