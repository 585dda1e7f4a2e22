#include "process_state.hpp"

namespace morvanex::binding {

ProcessState process_state;

}  // namespace morvanex::binding
