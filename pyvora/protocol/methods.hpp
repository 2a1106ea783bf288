// Every method of Protocol, in the order the class lists them, with its parameters: the
// contract surface first, then the convention surface (method.hpp). The calling sequence
// (call.hpp) derives docstrings, argument binding and conversion from these declarations.
#pragma once

#include <cstdint>
#include <optional>

#include "protocols/settings.hpp"
#include "pyvora/binding/convert.hpp"
#include "pyvora/binding/method.hpp"
#include "pyvora/binding/object.hpp"
#include "pyvora/binding/protocol_object.hpp"

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

// Signals. Each returns the new signal's position, staged (see call.hpp).
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

// Reading back and copying: the convention surface from here on.
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

// Inspection.
inline constexpr MethodSpec TO_DICT = documented(method("to_dict"), R"(Return the whole protocol as plain Python data.

A dict of the Settings fields in declaration order, keyed by the field names
of the text form. Records become dicts, lists lists, counts and positions int,
measured values float, flags bool and coil names str; monitor_trace_visible is
a list of 16 bools. A signal becomes a dict whose first key "kind" holds
"Constant", "Sine", "Ramp", "MixedSignal" or "Arbitrary", followed by its
parameters; arbitrary samples become a new NumPy int16 array (NumPy is
imported on first need; ImportError without it).

The protocol is not changed: an empty signal table gives an empty list.)");
Ref to_dict(const Settings& s);

inline constexpr MethodSpec FIND_PROBLEMS = documented(method("find_problems"), R"(Return what a protocol about to run almost certainly should not hold.

A list of "<path>: <what is wrong>" strings in field order, with paths as in
to_dict(), e.g. "channel_a_settings.amplitude2_source.internal: signal 3 does
not exist; the table has 2 signals"; empty when nothing was found. Reported,
though the methods accept them: a source of an enabled channel that selects a
signal or an external input that does not exist; a mixed signal that names a
signal that does not exist, or refers to itself directly or through other
mixed signals; an arbitrary signal whose sample count differs from
get_num_samples(); an enabled channel's coil_idx or coil_setting_idx outside
the machine's coils or that coil's tuning table; an intensity above
machine_config.max_intensity_setpoint; a float field of a signal or of the
machine description that is NaN or infinite; a negative sine frequency or
ramp up_duration or down_duration; a tuning entry whose carrier_frequency or
clk_ticks_per_sample is not what its capacitance on its coil tunes to, or
whose capacitor_bank_setting is 0; a coil whose max_carrier_frequency is
above the machine's; an enabled channel whose tuning entry runs above its
coil's or the machine's max_carrier_frequency; safety_checks_enabled false.
An empty signal table counts as the one constant 0.0 signal that save()
adds. Other signal parameters, whose units the system does not fix, are not
judged.)");
Ref find_problems(const Settings& s);

inline constexpr MethodSpec SUMMARY_TEXT = documented(method("_summary_text"), R"(Return the text form with each arbitrary sample list cut to one line.

The list becomes "<300000 samples, min 0, max 32767, crc32 8a1c04f3>", with the
CRC-32 of the samples as 16-bit little-endian integers (zlib.crc32 of their
bytes); everything else is as str() writes it. This is what `pyvora show` prints.)");
Ref summary_text(const protocols::Protocol& protocol);

inline constexpr MethodSpec FROM_DICT = on_class(documented(method("from_dict", Param{"data"}), R"(Return a new Protocol built from plain data, the inverse of to_dict().

data is a mapping with exactly the keys that to_dict() gives, in any order, and
each nested record likewise; a signal is a mapping with "kind" ("Constant",
"Sine", "Ramp", "MixedSignal" or "Arbitrary") and exactly that kind's fields.
Lists may be any sequence. Samples are a sequence of ints or a 1-D NumPy (or
other buffer) integer array, read in one pass. Measured values take float or
int, counts and positions int from 0 to 2**64 - 1, flags bool only, coil names
str; bool is refused where a number is due. Values are judged as loading a
file judges them (intensity 0.0..1.0, session duration 0.01..1800.0 seconds,
samples 0..32767 and at most 9,000,000 of them, 16 monitor flags); everything
else is taken as it is. An empty signal table is taken as Protocol() holds
one: to_bytes() and save() add the constant 0.0 signal. So
Protocol.from_dict(p.to_dict()).to_bytes() == p.to_bytes() for every protocol.

Raises pyvora.DecodeError (a ValueError) for a missing or unknown key, a
value of the wrong type or out of its range, with path naming the field in
to_dict() notation ('signals[2].samples[17]') and offset None; the message
is "<what is wrong> for <path>".)"));
Ref from_dict(PyTypeObject* cls, AnyObject data);

inline constexpr MethodSpec REPR_HTML = documented(method("_repr_html_"), R"(Return a compact HTML summary of the protocol, for notebooks.

The duration and sample count, the intensity against the machine's limit,
the signal table with each signal's parameters (sample lists as their count,
minimum and maximum), what drives each coil and each channel's modulation,
and find_problems(). Every text is escaped; the summary stays a few
kilobytes whatever the number of samples.)");
Ref repr_html(const Settings& s);

inline constexpr MethodSpec TO_DICT_BUFFERS = documented(method("_to_dict_buffers"), R"(Return to_dict() with each sample list as a memoryview of int16 (format 'h').

The same data as to_dict(), with each arbitrary signal's samples in a new
read-only memoryview instead of a NumPy array, so that NumPy is not needed.
For the command's checks.)");
Ref to_dict_buffers(const Settings& s);

inline constexpr MethodSpec OVERVIEW = documented(method("_overview", Param{"findings", "()"}), R"(Return what the picture, the notebook summary and diff show, as plain data.

A dict: "facts" (the header's lines by what they are about: "intensity",
"session", "channel A", "channel B"), "intensity_above", "signals" (each
signal's "kind", one-line "text" and "note"), "rows" (A1, A2, A modulation,
B1, B2, B modulation: "label", "path", "enabled", "external", "position",
"exists", "text", "drive", every signal the source reaches through mixes of
any depth, each once, and "marks"), "marks" (find_problems(), then the
findings given, each with its "path", "text" and "warning") and
"problem_count". A mark is in a row's "marks" when its path names the row's
source or a signal of its drive, and in "intensity_marks" when it names the
intensity. findings is a sequence of (path, text, warning) tuples, a lab's
findings; the protocol is not changed.)");
Ref overview(const Settings& s, std::optional<AnyObject> findings);

inline constexpr MethodSpec SUMMARY_HTML = documented(method("_summary_html", Param{"findings", "()"}), R"(Return the notebook summary with a lab's findings marked.

_repr_html_() with findings, a sequence of (path, text, warning) tuples,
marked in the rows they concern and listed under the problems.)");
Ref summary_html(const Settings& s, std::optional<AnyObject> findings);

// The JSON form.
inline constexpr MethodSpec TO_JSON = documented(method("to_json", Param{"samples_per_line", "None"}), R"(Return the protocol's JSON form as UTF-8 bytes, as `pyvora export` writes it.

to_dict() as standard JSON (RFC 8259): keys in field order, indented by two
spaces a level, lists of numbers and flags on one line, floats in the fewest
digits that read back to the same value, NaN and the infinities as the
strings "NaN", "Infinity" and "-Infinity" (a NaN's sign and payload are not
kept), and a line feed at the end. Each sample list is on one line, or with
samples_per_line (an int of at least 1) that many samples to a line, so that
a one-sample edit is a one-line diff. Like to_bytes(), an empty signal table
is written with the one constant 0.0 signal that save() would add, and the
protocol is not changed. from_json() reads the form back to the same file
bytes, but for the sign and payload of a NaN.)");
Ref to_json(const Settings& s, std::optional<AnyObject> samples_per_line);

inline constexpr MethodSpec FROM_JSON = on_class(documented(method("from_json", Param{"data"}), R"doc(Return a new Protocol read from its JSON form, as `pyvora build` reads it.

data is bytes, a str or any other object with the buffer protocol, holding
UTF-8 JSON as to_json() writes it, in any spacing and key order. The data is
taken as from_dict() takes the same values, with "NaN", "Infinity" and
"-Infinity" read as floats where a float is due; values are judged as
loading a file judges them.

Raises pyvora.DecodeError (a ValueError): for a text that is not JSON, with
the message "not JSON: <reason> (line L, column C)", offset the byte where
it was found and path ''; for a key given twice in one object, "duplicate
key '<key>' for <path of the object>"; otherwise as from_dict() does, with
path naming the field and offset the byte where its value starts. Nesting
deeper than a protocol's layout, a number too large for a float, and an int
too large for its field, however long, are refused too.)doc"));
Ref from_json(PyTypeObject* cls, AnyObject data);

}  // namespace pyvora::methods
