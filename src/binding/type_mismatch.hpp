#pragma once
// The message of a type-mismatch TypeError:
//   "'<qualified type name>' object cannot be converted to '<target>'".
#include <string>

#include "python_api.hpp"

namespace morvanex::binding {

// `type` is borrowed. The type name is the type's __qualname__ converted
// strictly to UTF-8; when it cannot be read, is not a str or has no UTF-8 form
// it is "<failed to extract type name>". May run Python code (a metaclass's
// __qualname__).
std::string type_mismatch_message(PyObject* type, const char* target);

}  // namespace morvanex::binding
