// Module initialisation: PyInit_morvanex, the module's only exported symbol,
// makes the module with its function run_scoring_iteration and __version__
// (module_setup).
#include "call_entry.hpp"
#include "entry_frame.hpp"
#include "module_setup.hpp"
#include "python_handles.hpp"

namespace morvanex::binding {
namespace {

PyModuleDef module_definition = single_phase_definition("morvanex", "");  // __doc__ is the empty string, not None

}  // namespace
}  // namespace morvanex::binding

MORVANEX_MODULE_INIT PyInit_morvanex() {
    using namespace morvanex::binding;
    return entry_frame([] { return initialise_module(module_definition, {&run_scoring_iteration_method}); });
}
