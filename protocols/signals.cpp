#include "protocols/signals.hpp"

#include <cmath>
#include <limits>
#include <type_traits>
#include <utility>

#include "protocols/error.hpp"

namespace protocols::signals {

static_assert(std::is_nothrow_move_constructible_v<Signal>, "a staged signal moves in without failing");

std::uint64_t append(SignalTable& table, Signal signal) {
    StagedAppend staged(table, std::move(signal));
    const std::uint64_t position = staged.result();
    staged.commit();
    return position;
}

StagedAppend::StagedAppend(SignalTable& table, Signal signal) : table_(table), signal_(std::move(signal)) {
    // Growth doubles, as push_back's would, so appends stay amortised constant time.
    if (table_.size() == table_.capacity()) table_.reserve(table_.empty() ? 1 : 2 * table_.size());
}

void StagedAppend::commit() noexcept {
    table_.push_back(std::move(signal_));  // within capacity: no allocation
}

std::uint64_t num_samples(double session_duration) {
    require(session_duration > 0.0, "self.settings.session_duration > 0.0");
    const double q = std::ceil(session_duration * SAMPLING_RATE);
    if (!(q > 0.0)) return 0;
    if (q >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(q);
}

}  // namespace protocols::signals
