#pragma once
// The type-mismatch TypeError of the conversions:
//   "'<qualified type name>' object cannot be converted to '<target>'".
#include "error_value.hpp"

namespace morvanex::binding {

// `object` is borrowed. The type name is the __qualname__ of its type,
// converted strictly to UTF-8; when it cannot be read, is not a str or has no
// UTF-8 form it is "<failed to extract type name>". The message is made at
// once and may run Python code (a metaclass's __qualname__): a PanicException
// from that code is resumed and a MemoryError unwinds as exhausted memory.
ErrorValue type_mismatch_error(PyObject* object, const char* target);

}  // namespace morvanex::binding
