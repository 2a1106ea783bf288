// A compact HTML summary of a protocol, for notebooks (Jupyter's _repr_html_): the duration,
// the intensity against the machine's limit, the signal table, what drives each coil and each
// channel's modulation, and the problems. Every value is written as the text form writes it,
// sample lists as their summary, so the summary stays small whatever the sample count; every
// text is escaped.
#pragma once

#include <string>

#include "protocols/settings.hpp"

namespace protocols::text {

std::string html_summary(const settings::Settings& settings);

}  // namespace protocols::text
