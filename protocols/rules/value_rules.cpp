#include "protocols/rules/value_rules.hpp"

#include "protocols/config.hpp"
#include "protocols/text/float_text.hpp"

namespace protocols::rules {

std::string sample_problem(std::string_view value_text) {
    return std::string("sample ").append(value_text).append(" outside ")
        .append(std::to_string(MIN_SAMPLE)).append("..").append(std::to_string(MAX_SAMPLE));
}

std::optional<std::string> sample_count_problem(std::uint64_t count) {
    if (count <= MAX_SAMPLES) return std::nullopt;
    return std::to_string(count) + " samples exceed the limit of " + std::to_string(MAX_SAMPLES);
}

namespace {
// "value 1.5 outside 0.0..1.0" when value is not within min..max.
std::optional<std::string> range_problem(double value, double min, double max) {
    if (value >= min && value <= max) return std::nullopt;
    return "value " + text::float_text(value) + " outside " + text::float_text(min) + ".." + text::float_text(max);
}
}  // namespace

std::optional<std::string> intensity_problem(const double& value) {
    return range_problem(value, config::MIN_INTENSITY, config::MAX_INTENSITY);
}

std::optional<std::string> session_duration_problem(const double& value) {
    return range_problem(value, config::MIN_SESSION_DURATION, config::MAX_SESSION_DURATION);
}

std::optional<std::string> signal_table_problem(const signals::SignalTable& table) {
    // Saving always writes at least the constant 0.0 signal.
    if (table.empty()) return "empty signal table";
    return std::nullopt;
}

}  // namespace protocols::rules
