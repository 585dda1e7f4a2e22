#pragma once
// Binding the positional tuple and keyword dict of a call to the four
// parameters of run_scoring_iteration, with CPython-style TypeError messages.
//
// Ownership contract: the tuple and the dict are borrowed; each filled slot
// holds a strong reference of its own (see BoundArguments).
#include <array>
#include <cstddef>

#include "error_value.hpp"
#include "python_handles.hpp"

namespace morvanex::binding {

inline constexpr std::size_t parameter_count = 4;
inline constexpr std::array<const char*, parameter_count> parameter_names = {"root_candidates", "affix_candidates",
                                                                             "scores", "one_char_whitelist"};

// One filled slot per parameter, in parameter order. Each slot holds a strong
// reference of its own: the keyword dict handed to the call can be one that
// Python code run later in the call is able to reach and change, so the slots
// must keep their arguments alive for the whole call.
using BoundArguments = std::array<OwnedRef, parameter_count>;

// `positional` is the call's argument tuple and `keywords` its keyword dict or
// null (both borrowed). Returns the filled slots, or a TypeError whose message
// begins "run_scoring_iteration()".
Result<BoundArguments> bind_arguments(PyObject* positional, PyObject* keywords);

}  // namespace morvanex::binding
