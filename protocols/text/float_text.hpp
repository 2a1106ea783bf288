// Text of a 64-bit float in the text form: shortest round-trip digits (exact ties go to the
// larger magnitude), plain below 1e16 and from 0.0001 up, scientific outside.
#pragma once

#include <cstddef>
#include <string>

namespace protocols::text {

// Longest float text ("-1.7976931348623157e308", "-0.00012345678901234567") with margin.
inline constexpr std::size_t max_float_text = 32;

// Writes the text of x at out, which has room for max_float_text bytes, and returns the end.
char* format_float(char* out, double x) noexcept;

// The JSON form's number for a finite x: the shortest round-trip digits with exact ties to
// the even digit, plain from 0.00001 up and below 1e16, scientific outside ("1e16", "1e-6").
char* format_json_float(char* out, double x) noexcept;

// The same text as a string, for messages.
std::string float_text(double x);

}  // namespace protocols::text
