// Limits of a protocol, each named once. The methods, the value rules of files and dicts, the
// JSON reader and the module's `_LIMITS` (which the command reads) all take them from here.
#pragma once

#include <cstdint>

namespace protocols::config {

// The shortest and longest session a protocol may describe, in seconds.
inline constexpr double MIN_SESSION_DURATION = 0.01;
inline constexpr double MAX_SESSION_DURATION = 1800.0;

// The global intensity is a fraction of the machine's full output.
inline constexpr double MIN_INTENSITY = 0.0;
inline constexpr double MAX_INTENSITY = 1.0;

// Arbitrary signals are sampled at this rate, in samples per second.
inline constexpr double SAMPLING_RATE = 5000.0;

// Samples are fractions from 0 to full scale.
inline constexpr std::int64_t MIN_SAMPLE = 0;
inline constexpr std::int64_t MAX_SAMPLE = 32767;

// The longest arbitrary signal a protocol can hold: a session of the longest duration.
inline constexpr std::uint64_t MAX_SAMPLES = 9'000'000;

static_assert(MAX_SAMPLES == static_cast<std::uint64_t>(MAX_SESSION_DURATION * SAMPLING_RATE));

}  // namespace protocols::config
