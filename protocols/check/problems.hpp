// Checks of a whole protocol for what the methods accept but a protocol about to run almost
// certainly should not hold: positions that point nowhere, mixed signals that refer to
// themselves, arbitrary signals of the wrong length, an intensity above the machine's limit,
// signal parameters and machine values that are NaN or infinite, a negative sine frequency or
// ramp duration; tuning entries that are not what the tuning rule gives, carrier limits above
// the machine's or a selected entry above them, and the stimulator's safety checks turned off.
// Other signal parameters, whose units the system does not fix, are not judged.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "protocols/settings.hpp"

namespace protocols::check {

// One finding: its whole text, whose first path_length bytes are the path it names.
struct Problem {
    std::string text;
    std::size_t path_length = 0;

    std::string_view path() const noexcept { return std::string_view(text).substr(0, path_length); }
};

// The same findings as find_problems(), each with the path it names, for views that place them.
std::vector<Problem> problems(const settings::Settings& settings);

// One "<path>: <what is wrong>" per finding, in field order, with paths such as
// `channel_a_settings.amplitude2_source.internal` or `signals[3].a_idx`. An empty signal table
// is judged as the one constant 0.0 signal that saving puts there. Empty when nothing is found.
std::vector<std::string> find_problems(const settings::Settings& settings);

}  // namespace protocols::check
