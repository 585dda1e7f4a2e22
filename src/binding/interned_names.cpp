#include "interned_names.hpp"

#include <string_view>

#include "binding_failure.hpp"
#include "process_state.hpp"

namespace morvanex::binding::interned {
namespace {

// Fills `slot` on first use.
PyObject* intern_once(PyObject*& slot, std::string_view text) {
    if (slot == nullptr) {
        OwnedRef created =
            expect_created(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
        PyObject* raw = created.release();
        PyUnicode_InternInPlace(&raw);
        slot = raw;
    }
    return slot;
}

}  // namespace

PyObject* name() { return intern_once(process_state.interned.name, "__name__"); }
PyObject* all() { return intern_once(process_state.interned.all, "__all__"); }
PyObject* qualname() { return intern_once(process_state.interned.qualname, "__qualname__"); }

}  // namespace morvanex::binding::interned
