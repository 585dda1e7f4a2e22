// Module initialisation: PyInit_morvanex, the module's only exported symbol,
// makes the module with its function run_scoring_iteration and __version__
// (module_setup).
#include "call_entry.hpp"
#include "entry_frame.hpp"
#include "module_setup.hpp"
#include "python_handles.hpp"

namespace morvanex::binding {
namespace {

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "morvanex",  // m_name
    "",          // m_doc: __doc__ is the empty string, not None
    0,           // m_size: no per-module state
    nullptr,     // m_methods: the function is added by the initialiser
    nullptr,     // m_slots: single-phase initialisation
    nullptr,     // m_traverse
    nullptr,     // m_clear
    nullptr,     // m_free
};

}  // namespace
}  // namespace morvanex::binding

MORVANEX_MODULE_INIT PyInit_morvanex() {
    using namespace morvanex::binding;
    return entry_frame([] { return initialise_module(module_definition, {&run_scoring_iteration_method}); });
}
