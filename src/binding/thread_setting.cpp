#include "thread_setting.hpp"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <thread>

#include "messages.hpp"

namespace morvanex::binding {

Result<std::size_t> scoring_threads() {
    const char* setting = std::getenv(messages::threads_variable);
    if (setting == nullptr || *setting == '\0') return std::size_t{1};
    std::size_t count = 0;
    for (const char* digit = setting; *digit != '\0'; ++digit) {
        bool fits = count <= (std::numeric_limits<std::size_t>::max() - 9) / 10;
        if (*digit < '0' || *digit > '9' || !fits)
            return ErrorValue::with_message(PyExc_ValueError, messages::bad_thread_count(setting));
        count = count * 10 + static_cast<std::size_t>(*digit - '0');
    }
    if (count == 0) count = std::max(1u, std::thread::hardware_concurrency());
    return count;
}

}  // namespace morvanex::binding
