#pragma once
// A dict for millions of str keys, laid out to keep each key's hash beside it.
//
// From 3.11 on, CPython lays out a dict whose keys have all been str without
// their hashes: an insert or a lookup that finds another key in a slot reads
// that key's hash from the key's object, anywhere in memory, a cache miss per
// collision, which makes most of the time that filling such a dict takes. A
// dict that has once held a key of another type keeps the hashes in its
// entries for good, through every growth, so the dict holds the key None
// while it is filled. Before 3.11 every dict keeps them and this changes
// nothing. Either way the result is an ordinary dict of what was put in.
//
// Ownership contract: the object owns the dict until take() hands it on; the
// dict reaches no Python code before then.
#include "python_handles.hpp"

namespace morvanex::binding {

class DictStoringHashes {
public:
    // An empty dict but for the key None.
    DictStoringHashes();

    // The dict being filled, borrowed.
    PyObject* get() const { return dict_.get(); }
    // The dict without the key None.
    OwnedRef take() &&;

private:
    OwnedRef dict_;
};

}  // namespace morvanex::binding
