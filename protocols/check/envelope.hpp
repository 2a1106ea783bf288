// Measures of an envelope's shape that a lab's rules judge (how far it jumps between
// neighbouring samples), in one pass over samples that may run to millions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

namespace protocols::check {

// The largest absolute difference between neighbouring samples, and the first position i at
// which it occurs (between samples i and i + 1); {0, 0} for fewer than two samples.
struct Step {
    std::size_t index;
    std::int32_t size;
};

inline Step largest_step(std::span<const std::int16_t> samples) noexcept {
    if (samples.size() < 2) return {0, 0};
    // A plain maximum first, which the compiler vectorises; then the first place it occurs.
    std::int32_t largest = 0;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        const std::int32_t step = std::abs(std::int32_t{samples[i]} - std::int32_t{samples[i - 1]});
        largest = step > largest ? step : largest;
    }
    std::size_t at = 0;
    while (std::abs(std::int32_t{samples[at + 1]} - std::int32_t{samples[at]}) != largest) ++at;
    return {at, largest};
}

}  // namespace protocols::check
