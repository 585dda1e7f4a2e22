#include "block_writer.hpp"

#include "binding_failure.hpp"

namespace morvanex::binding {

Result<Done> BlockWriter::flush() {
    if (text_.empty()) return Done{};
    const OwnedRef block =
        expect_created(PyBytes_FromStringAndSize(text_.data(), static_cast<Py_ssize_t>(text_.size())));
    text_.clear();
    const OwnedRef written = OwnedRef::steal(PyObject_CallFunctionObjArgs(write_, block.get(), nullptr));
    if (!written) return fetch_pending_error();
    return Done{};
}

}  // namespace morvanex::binding
