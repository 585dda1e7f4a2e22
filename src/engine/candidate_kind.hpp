#pragma once
// Which set a candidate comes from, which decides the covers it may have: a
// root may be cut anywhere; an affix is the whole word, or one piece from its
// start plus one piece to its end.

namespace morvanex {

enum class CandidateKind { root, affix };

}  // namespace morvanex
