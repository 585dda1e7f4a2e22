#pragma once
// Making arbitrary bytes valid UTF-8, for messages that may quote text from
// outside the module. Engine strings are always valid UTF-8 and never pass
// through here.
#include <string>
#include <string_view>

namespace morvanex::binding {

// `bytes` decoded as UTF-8 with each maximal subpart of an ill-formed
// sequence replaced by U+FFFD (the practice Python's "replace" error handler
// follows too); valid input comes back unchanged. The result is a new string.
std::string utf8_lossy(std::string_view bytes);

}  // namespace morvanex::binding
