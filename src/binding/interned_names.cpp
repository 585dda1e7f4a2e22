#include "interned_names.hpp"

#include <string_view>

#include "binding_failure.hpp"

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

PyObject* name_slot = nullptr;
PyObject* all_slot = nullptr;
PyObject* qualname_slot = nullptr;

}  // namespace

PyObject* name() { return intern_once(name_slot, "__name__"); }
PyObject* all() { return intern_once(all_slot, "__all__"); }
PyObject* qualname() { return intern_once(qualname_slot, "__qualname__"); }

}  // namespace morvanex::binding::interned
