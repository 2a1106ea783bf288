// The JSON form of a protocol, as `pyvora export` writes it: to_dict() as standard JSON in UTF-8,
// keys in field order with two-space indentation, lists of numbers or flags on one line, and the
// floats JSON has no number for as the strings "NaN", "Infinity" and "-Infinity".
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "protocols/settings.hpp"

namespace protocols::json {

// The texts written for the floats JSON has no number for (a NaN's sign and payload are lost).
inline constexpr std::string_view nan_text = "NaN";
inline constexpr std::string_view infinity_text = "Infinity";
inline constexpr std::string_view negative_infinity_text = "-Infinity";

// How the sample lists are laid out: each on one line, or `per_line` samples to a line, each
// line indented under the list's key and the closing bracket on a line of its own.
struct SampleLayout {
    std::optional<std::size_t> per_line;  // at least 1 when given
};

// The exact length of the form of s, its final line feed included.
std::size_t json_size(const settings::Settings& s, SampleLayout layout = {});

// Writes the form at out, which has room for json_size(s, layout) bytes; returns the end.
char* write_json(const settings::Settings& s, char* out, SampleLayout layout = {});

// The form as a string.
std::string to_json(const settings::Settings& s, SampleLayout layout = {});

}  // namespace protocols::json
