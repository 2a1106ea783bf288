// Every method of Protocol, in the order the class lists them, with its parameters.
// The binding layer (arguments.hpp) derives docstrings, argument binding and conversion from
// these declarations.
#pragma once

#include <cstdint>
#include <optional>

#include "protocols/settings.hpp"
#include "pyvora/arguments.hpp"

namespace pyvora {

// A one-dimensional float64 array, read in place (see arbitrary.cpp).
struct SampleArray {
    const char* data;
    std::int64_t length;
    std::int64_t stride;  // bytes between consecutive samples, may be negative
    bool contiguous;      // aligned and stride == 8
};
template <>
struct FromPython<SampleArray> {
    static SampleArray convert(PyObject* obj);
};
}  // namespace pyvora

namespace pyvora::methods {

using protocols::settings::Settings;

// Configuration.
inline constexpr MethodSpec SET_STIMULATION_INTENSITY = method("set_stimulation_intensity", Param{"intensity"});
void set_stimulation_intensity(Settings& s, double intensity);

inline constexpr MethodSpec SET_SESSION_DURATION = method("set_session_duration", Param{"duration"});
void set_session_duration(Settings& s, double duration);

inline constexpr MethodSpec ENABLE_CHANNEL = method("enable_channel", Param{"channel"});
void enable_channel(Settings& s, ChannelId channel);

inline constexpr MethodSpec SET_AMPLITUDE_SOURCE =
    method("set_amplitude_source", Param{"coil"}, Param{"index"}, Param{"external", "False"});
void set_amplitude_source(Settings& s, CoilId coil, std::uint64_t index, std::optional<bool> external);

inline constexpr MethodSpec SET_MODULATION_SOURCE =
    method("set_modulation_source", Param{"channel"}, Param{"index"}, Param{"external", "False"});
void set_modulation_source(Settings& s, ChannelId channel, std::uint64_t index,
                           std::optional<bool> external);

// Signals.
inline constexpr MethodSpec ADD_CONSTANT_SIGNAL = method("add_constant_signal", Param{"value"});
std::uint64_t add_constant_signal(Settings& s, double value);

inline constexpr MethodSpec ADD_SINE_SIGNAL =
    method("add_sine_signal", Param{"amplitude"}, Param{"frequency"}, Param{"phase", "0.0"},
           Param{"depth", "1.0"});
std::uint64_t add_sine_signal(Settings& s, double amplitude, double frequency,
                              std::optional<double> phase, std::optional<double> depth);

inline constexpr MethodSpec ADD_RAMP_SIGNAL =
    method("add_ramp_signal", Param{"peak"}, Param{"up_duration"}, Param{"down_duration"});
std::uint64_t add_ramp_signal(Settings& s, double peak, double up_duration, double down_duration);

inline constexpr MethodSpec ADD_MIXED_SIGNAL = method("add_mixed_signal", Param{"a_idx"}, Param{"b_idx"});
std::uint64_t add_mixed_signal(Settings& s, std::uint64_t a_idx, std::uint64_t b_idx);

inline constexpr MethodSpec ADD_ARBITRARY_SIGNAL = method("add_arbitrary_signal", Param{"samples"});
std::uint64_t add_arbitrary_signal(Settings& s, SampleArray samples);

// Queries.
inline constexpr MethodSpec GET_NUM_SAMPLES = method("get_num_samples");
std::uint64_t get_num_samples(Settings& s);

inline constexpr MethodSpec GET_SAMPLING_RATE = method("get_sampling_rate");
double get_sampling_rate(const Settings& s);

// Files.
inline constexpr MethodSpec SAVE = method("save", Param{"filepath"});
void save(Settings& s, Text filepath);

}  // namespace pyvora::methods
