// A sample list of the JSON form as `pyvora export` writes it: "[", the samples 0 to 32767 in
// plain decimal digits with single commas between them, "]"; a line break (a line feed and the
// spaces after it) may follow the "[" and any comma, and precede the "]", as when the samples
// are written so many to a line. Reading those spellings here, in one pass, keeps a
// 9,000,000-sample list from ever becoming Python ints; any other spelling of the same list is
// left to the general JSON road, which gives the same samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace protocols::json {

// The number of samples text holds if it has that form: its commas plus one.
std::size_t sample_list_length(std::string_view text) noexcept;

// Reads the samples of text into out, which has room for sample_list_length(text) of them.
// False, with out partly written, unless text has exactly that form with every sample in
// 0..32767; an empty list, other white space, signs and leading zeros are other spellings.
bool read_sample_list(std::string_view text, std::span<std::int16_t> out) noexcept;

}  // namespace protocols::json
