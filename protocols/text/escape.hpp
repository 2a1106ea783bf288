// Building blocks of the quoted-text rule for callers that size their output first
// (the renderer): the exact size of a quoted text, and writing it into room of that size.
#pragma once

#include <cstddef>
#include <string_view>

namespace protocols::text {

// True for code points written as \u{...}: not printable, or a grapheme extender.
// Covers only the table; the short escapes (\t, \n, ...) are decided before it.
bool needs_unicode_escape(char32_t cp) noexcept;

struct QuotedSize {
    std::size_t length;  // bytes, quotes included
    bool ascii;          // no byte above 0x7F in the quoted form
};

// The size of the quoted form of utf8, as written by write_quoted.
QuotedSize quoted_size(std::string_view utf8) noexcept;

// Writes the quoted form of utf8 at out and returns the end; out needs quoted_size().length bytes.
// Invalid UTF-8 is never read past its end: each bad byte is written as U+FFFD.
char* write_quoted(char* out, std::string_view utf8) noexcept;

}  // namespace protocols::text
