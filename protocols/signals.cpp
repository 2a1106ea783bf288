#include "protocols/signals.hpp"

#include <cmath>
#include <limits>
#include <utility>

#include "protocols/error.hpp"

namespace protocols::signals {

std::uint64_t append(SignalTable& table, Signal signal) {
    const auto position = static_cast<std::uint64_t>(table.size());
    table.push_back(std::move(signal));  // strong guarantee: on failure the table is unchanged
    return position;
}

std::uint64_t num_samples(double session_duration) {
    require(session_duration > 0.0, "self.settings.session_duration > 0.0");
    const double q = std::ceil(session_duration * SAMPLING_RATE);
    if (!(q > 0.0)) return 0;
    if (q >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(q);
}

}  // namespace protocols::signals
