// The text-string rule of the text form: double quotes, with backslash, double quote,
// control characters, non-printable characters and grapheme extenders escaped.
// Shared by the renderer and by the file-error messages of saving.
#pragma once

#include <string>
#include <string_view>

namespace protocols::text {

// Appends the quoted, escaped form of a UTF-8 text to out.
void append_quoted(std::string& out, std::string_view utf8);

// The quoted, escaped form of a UTF-8 text.
std::string quoted(std::string_view utf8);

}  // namespace protocols::text
