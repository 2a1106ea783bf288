// A compact HTML summary of a protocol, for notebooks (Jupyter's _repr_html_): the overview
// (overview.hpp) as tables. The header's facts, the signal table, and for each row what drives
// it down to the signals its mixes reach, with the problems and findings that concern it in
// the row's own cell; then every problem and finding. Sample lists appear as their summary, so
// the summary stays small whatever the sample count; every text is escaped.
#pragma once

#include <span>
#include <string>

#include "protocols/settings.hpp"
#include "protocols/view/overview.hpp"

namespace protocols::view {

std::string html_summary(const Overview& overview);

inline std::string html_summary(const settings::Settings& settings, std::span<const Mark> findings = {}) {
    return html_summary(overview(settings, findings));
}

}  // namespace protocols::view
