// The text form of a protocol: what str() of a Python Protocol returns.
// Big protocols (millions of samples) are measured first so the caller can allocate the final
// string once and have it filled in place.
#pragma once

#include <cstddef>
#include <string>

#include "protocols/settings.hpp"
#include "protocols/text/renderer.hpp"

namespace protocols::text {

// Exact length in bytes of render(protocol), and whether it is pure ASCII; one pass.
TextSize measure(const Protocol& protocol);
std::size_t text_length(const Protocol& protocol);
bool text_is_ascii(const Protocol& protocol);

// Writes the text at out, which has room for text_length(protocol) bytes; returns the end.
// Nothing is terminated or appended.
char* render_into(const Protocol& protocol, char* out);

// The whole text, allocated once.
std::string render(const Protocol& protocol);

}  // namespace protocols::text
