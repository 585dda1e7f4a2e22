#pragma once
// The arguments of a morvanex_covers entry, parsed from the call's tuple and
// keyword dict by PyArg_ParseTupleAndKeywords with a format of "O" units
// only: the objects, null for an optional one not given.
//
// Ownership contract: each object given is held by a reference of its own
// until the value goes, for the whole entry: the keyword dict is the
// caller's, and Python code that the entry runs may change it.
#include <array>
#include <cstddef>
#include <utility>

#include "error_value.hpp"
#include "python_handles.hpp"

namespace morvanex::binding {

template <std::size_t N>
class HeldArguments {
public:
    // `names`: the N parameter names, then null.
    static Result<HeldArguments> parse(PyObject* positional, PyObject* keywords, const char* format,
                                       const char* const (&names)[N + 1]) {
        std::array<PyObject*, N> given{};
        if (!parse_into(positional, keywords, format, names, given, std::make_index_sequence<N>()))
            return fetch_pending_error();
        HeldArguments arguments;
        for (std::size_t k = 0; k < N; ++k) arguments.held_[k] = OwnedRef::borrow(given[k]);
        return arguments;
    }

    PyObject* operator[](std::size_t k) const { return held_[k].get(); }

private:
    template <std::size_t... K>
    static bool parse_into(PyObject* positional, PyObject* keywords, const char* format, const char* const* names,
                           std::array<PyObject*, N>& given, std::index_sequence<K...>) {
        return PyArg_ParseTupleAndKeywords(positional, keywords, format, const_cast<char**>(names), &given[K]...) != 0;
    }

    std::array<OwnedRef, N> held_;
};

}  // namespace morvanex::binding
