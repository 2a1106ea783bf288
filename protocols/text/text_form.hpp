// The text form of a protocol: what str() of a Python Protocol returns.
// Big protocols (millions of samples) are measured first so the caller can allocate the final
// string once and have it filled in place.
#pragma once

#include <cstddef>
#include <string>

#include "protocols/settings.hpp"
#include "protocols/text/renderer.hpp"

namespace protocols::text {

// Exact length in bytes of render(protocol, samples), and whether it is pure ASCII; one pass.
TextSize measure(const Protocol& protocol, SampleLists samples = SampleLists::every_sample);
std::size_t text_length(const Protocol& protocol);
bool text_is_ascii(const Protocol& protocol);

// Writes the text at out, which has room for measure(protocol, samples).length bytes; returns
// the end. Nothing is terminated or appended.
char* render_into(const Protocol& protocol, char* out, SampleLists samples = SampleLists::every_sample);

// The whole text, allocated once.
std::string render(const Protocol& protocol, SampleLists samples = SampleLists::every_sample);

}  // namespace protocols::text
