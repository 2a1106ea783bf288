// Checks of a whole protocol for what the methods accept but a protocol about to run almost
// certainly should not hold: positions that point nowhere, mixed signals that refer to
// themselves, arbitrary signals of the wrong length, an intensity above the machine's limit,
// signal parameters and machine values that are NaN or infinite, a negative sine frequency or
// ramp duration; tuning entries that are not what the tuning rule gives, carrier limits above
// the machine's or a selected entry above them, and the stimulator's safety checks turned off.
// Other signal parameters, whose units the system does not fix, are not judged.
#pragma once

#include <string>
#include <vector>

#include "protocols/settings.hpp"

namespace protocols::check {

// One "<path>: <what is wrong>" per finding, in field order, with paths such as
// `channel_a_settings.amplitude2_source.internal` or `signals[3].a_idx`. An empty signal table
// is judged as the one constant 0.0 signal that saving puts there. Empty when nothing is found.
std::vector<std::string> find_problems(const settings::Settings& settings);

}  // namespace protocols::check
