#pragma once
// morvanex_covers.ScoreTable: a score table and one-character whitelist
// taken in and indexed once, then searched by any number of cover, own-best
// and row-writing calls, which skip the conversion and indexing that each
// module-level function does on its own.
//
// Ownership contract: an instance owns its PieceIndex alone (no Python
// reference), deleted when the instance is; the index is never changed after
// construction, so calls on several threads may read it at once, each
// holding the instance through its bound method. The type, made from a spec
// that lives for the whole process, is a heap type that each instance holds a
// reference to.
#include "error_value.hpp"
#include "python_handles.hpp"

namespace morvanex::binding {

// The new type object, for the module to add.
Result<OwnedRef> make_score_table_type();

}  // namespace morvanex::binding
