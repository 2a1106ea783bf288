// Every method of Protocol, in the order the class lists them, with its parameters.
// The binding layer (arguments.hpp) derives docstrings, argument binding and conversion from
// these declarations.
#pragma once

#include <cstdint>
#include <optional>

#include "protocols/settings.hpp"
#include "pyvora/arguments.hpp"
#include "pyvora/object.hpp"

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
using protocols::signals::StagedAppend;

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

// Signals. Each returns the new signal's position, staged (see arguments.hpp).
inline constexpr MethodSpec ADD_CONSTANT_SIGNAL = method("add_constant_signal", Param{"value"});
StagedAppend add_constant_signal(Settings& s, double value);

inline constexpr MethodSpec ADD_SINE_SIGNAL =
    method("add_sine_signal", Param{"amplitude"}, Param{"frequency"}, Param{"phase", "0.0"},
           Param{"depth", "1.0"});
StagedAppend add_sine_signal(Settings& s, double amplitude, double frequency,
                             std::optional<double> phase, std::optional<double> depth);

inline constexpr MethodSpec ADD_RAMP_SIGNAL =
    method("add_ramp_signal", Param{"peak"}, Param{"up_duration"}, Param{"down_duration"});
StagedAppend add_ramp_signal(Settings& s, double peak, double up_duration, double down_duration);

inline constexpr MethodSpec ADD_MIXED_SIGNAL = method("add_mixed_signal", Param{"a_idx"}, Param{"b_idx"});
StagedAppend add_mixed_signal(Settings& s, std::uint64_t a_idx, std::uint64_t b_idx);

inline constexpr MethodSpec ADD_ARBITRARY_SIGNAL = method("add_arbitrary_signal", Param{"samples"});
StagedAppend add_arbitrary_signal(Settings& s, SampleArray samples);

// Queries.
inline constexpr MethodSpec GET_NUM_SAMPLES = method("get_num_samples");
std::uint64_t get_num_samples(Settings& s);

inline constexpr MethodSpec GET_SAMPLING_RATE = method("get_sampling_rate");
double get_sampling_rate(const Settings& s);

// Files.
inline constexpr MethodSpec SAVE = method("save", Param{"filepath"});
void save(Settings& s, Text filepath);

// Reading back and copying. These carry real docstrings.
inline constexpr MethodSpec TO_BYTES = documented(method("to_bytes"), R"(Return the protocol file's bytes.

Exactly the bytes that save() would write at this moment. The protocol is not
changed: when its signal table is empty, the bytes hold the one constant 0.0
signal that save() would add, but the signal is not added to the protocol.)");
Ref to_bytes(const Settings& s);

inline constexpr MethodSpec FROM_BYTES = on_class(documented(method("from_bytes", Param{"data"}), R"(Return a new Protocol decoded from the bytes of a protocol file.

data is any object with the buffer protocol (bytes, bytearray, memoryview,
mmap, a contiguous NumPy uint8 array); it is read in place, without a copy.
The protocol holds exactly the file's content, and to_bytes() gives the same
bytes back.

Raises pyvora.DecodeError (a ValueError) when the bytes are not a protocol
file: they end early or go on after it, a number is malformed or out of its
range, a coil name is not UTF-8, or a value lies outside what a protocol can
hold (intensity outside 0.0..1.0, session duration outside 0.01..1800.0
seconds, a sample outside 0..32767, more than 9,000,000 samples, no signals).)"));
Ref from_bytes(PyTypeObject* cls, BufferView data);

inline constexpr MethodSpec LOAD = on_class(documented(method("load", Param{"filepath"}), R"(Return a new Protocol read from a protocol file.

filepath is a str, bytes or os.PathLike; any file name is accepted. The file
is decoded as by from_bytes(), and DecodeError is raised the same way. A file
that cannot be read raises the OSError subclass for its error, with filename
set, as open() does (FileNotFoundError, IsADirectoryError, PermissionError...).)"));
Ref load(PyTypeObject* cls, FsPath filepath);

// Pickling and copying go through the encoded bytes.
inline constexpr MethodSpec REDUCE = documented(method("__reduce__"), "Helper for pickle and copy: the protocol as its file bytes.");
Ref reduce(const Settings& s);

}  // namespace pyvora::methods
