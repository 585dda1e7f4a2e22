#include "type_mismatch.hpp"

#include "conversion.hpp"
#include "interned_names.hpp"
#include "type_tests.hpp"

namespace morvanex::binding {
namespace {

std::string type_name_for_message(PyObject* type) {
    static constexpr const char* unknown = "<failed to extract type name>";
    OwnedRef qualname = OwnedRef::steal(PyObject_GetAttr(type, interned::qualname()));
    if (!qualname) {
        discard_pending_error();
        return unknown;
    }
    if (!is_str(qualname.get())) return unknown;
    Result<Utf8Text> text = string_from_object(qualname.get());
    if (!text.ok()) return unknown;  // the encoding error is dropped with it
    return std::string(text.value().view());
}

}  // namespace

std::string type_mismatch_message(PyObject* type, const char* target) {
    std::string message = "'";
    message += type_name_for_message(type);
    message += "' object cannot be converted to '";
    message += target;
    message += "'";
    return message;
}

}  // namespace morvanex::binding
