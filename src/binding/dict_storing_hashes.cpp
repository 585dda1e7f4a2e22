#include "dict_storing_hashes.hpp"

#include "binding_failure.hpp"
#include "messages.hpp"

namespace morvanex::binding {

DictStoringHashes::DictStoringHashes() : dict_(expect_created(PyDict_New())) {
    if (PyDict_SetItem(dict_.get(), Py_None, Py_None) < 0)
        fail_with_error(messages::set_item_failed, fetch_pending_error());
}

OwnedRef DictStoringHashes::take() && {
    // The keys put in are str: None is still the one placed here.
    if (PyDict_DelItem(dict_.get(), Py_None) < 0) fail_with_error(messages::set_item_failed, fetch_pending_error());
    return std::move(dict_);
}

}  // namespace morvanex::binding
