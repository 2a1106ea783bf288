// What a reader of a protocol's plain data (Protocol.from_dict, and the JSON form, which holds
// the same data) says is wrong with what it was given, in the words both readers use. The file
// decoder shares the words that fit a file too (an unknown signal kind, the path after them).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace protocols::rules {

// The kind of value a field is due: "a bool", ..., "a mapping".
enum class Due { a_bool, an_int, a_float, a_str, a_list, a_mapping };

// "expected a float or an int, got str 'x'"; `given` describes what was there instead.
std::string kind_problem(Due due, std::string_view given);

// "expected 16 flags, got 17".
std::string flag_count_problem(std::size_t due, std::size_t given);

inline constexpr std::string_view missing_key = "missing key";

// "unknown key 'voltage'": the key as the reader's language quotes a text.
std::string unknown_key(std::string_view quoted);

// "unknown signal kind 'Square'" (or the number a file gives).
std::string unknown_signal_kind(std::string_view kind);

// "value -1 outside 0..18446744073709551615": an int for a count or a position (int_text as
// below).
std::string count_range_problem(std::string_view int_text);

// "value <1100-bit int> too large for a float".
std::string float_range_problem(std::string_view int_text);

// "<what> for <path>", or `what` alone where the path is empty (the protocol as a whole).
std::string at_path(std::string what, std::string_view path);

// How a refusal writes an int: in decimal up to this many bits, beyond them by its size.
inline constexpr std::size_t int_digit_bits = 256;

// "<1329-bit int>", "<negative 300-bit int>".
std::string int_size_text(std::size_t bits, bool negative);

// A str given is shown up to this many characters, a longer one by its type alone.
inline constexpr std::size_t shown_str_characters = 40;

}  // namespace protocols::rules
