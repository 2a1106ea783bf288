#include "protocols/lcsettings.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "protocols/log.hpp"

namespace protocols::lcsettings {
namespace {

constexpr double CLOCK_HZ = 160000000.0;
constexpr double SAMPLES_PER_PERIOD = 32.0;
constexpr double TWO_PI = 6.283185307179586;

// Float to u64 with saturation: NaN and negatives give 0, 2^64 and above give the maximum.
std::uint64_t saturating_u64(double x) {
    if (!(x > 0.0)) return 0;
    if (x >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(x);
}

}  // namespace

LCSetting tune(double inductance, double capacitance, std::uint64_t bank_setting) {
    // Each step rounds as IEEE double arithmetic does, in exactly this order.
    double p = inductance * 0.000001;
    p = p * capacitance;
    p = p * 0.000000001;
    const double w = std::sqrt(p) * TWO_PI;
    const double f = 1.0 / w;
    const double t = CLOCK_HZ / (f * SAMPLES_PER_PERIOD);
    const std::uint64_t ticks = saturating_u64(std::round(t));  // halves away from zero
    // The u64 product wraps for tick counts of 2^59 and more, which no real coil reaches.
    const double achieved_hz = CLOCK_HZ / static_cast<double>(ticks * 32u);
    return LCSetting{capacitance, achieved_hz * 0.001, ticks, bank_setting};
}

std::variant<Coil, VORAError> Coil::make(std::string name, std::span<const double> candidates,
                                         double inductance, double max_current,
                                         double max_carrier_frequency) {
    std::vector<LCSetting> table;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        LCSetting entry = tune(inductance, candidates[i], static_cast<std::uint64_t>(i) + 1);
        // Equality accepts; a NaN on either side rejects.
        if (max_carrier_frequency >= entry.carrier_frequency) table.push_back(entry);
    }
    if (table.empty()) {
        if (log::enabled(log::Level::Error)) {
            log::write(log::Level::Error, "protocols::lcsettings",
                       "No valid carrier frequency can be calculated for coil " + name);
        }
        return VORAError::ConfigError;
    }
    // Stable ascending sort, then reverse: equal tick counts end with the later candidate first.
    std::stable_sort(table.begin(), table.end(), [](const LCSetting& a, const LCSetting& b) {
        return a.clk_ticks_per_sample < b.clk_ticks_per_sample;
    });
    std::reverse(table.begin(), table.end());
    return Coil{std::move(name), inductance, max_current, max_carrier_frequency, std::move(table)};
}

Coil Coil::make_default() {
    const double candidates[] = {330.0};
    auto made = make("Default", candidates, 150.0, 0.1, 40.0);
    if (auto* error = std::get_if<VORAError>(&made)) throw Failure(unwrap_failed(name_of(*error)));
    return std::move(std::get<Coil>(made));
}

}  // namespace protocols::lcsettings
