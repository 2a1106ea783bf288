#include "protocols/file/value_rules.hpp"

#include "protocols/config.hpp"
#include "protocols/text/float_text.hpp"

namespace protocols::file {

std::string sample_problem(std::string_view value_text) {
    return std::string("sample ").append(value_text).append(" outside ")
        .append(std::to_string(MIN_SAMPLE)).append("..").append(std::to_string(MAX_SAMPLE));
}

std::optional<std::string> sample_count_problem(std::uint64_t count) {
    if (count <= MAX_SAMPLES) return std::nullopt;
    return std::to_string(count) + " samples exceed the limit of " + std::to_string(MAX_SAMPLES);
}

std::optional<std::string> field_problem(const settings::Settings&, std::string_view field, const double& value) {
    if (field == "intensity" && !(value >= 0.0 && value <= 1.0)) {
        return "value " + text::float_text(value) + " outside 0.0..1.0";
    }
    if (field == "session_duration" && !(value >= config::MIN_SESSION_DURATION && value <= config::MAX_SESSION_DURATION)) {
        return "value " + text::float_text(value) + " outside 0.01..1800.0";
    }
    return std::nullopt;
}

std::optional<std::string> field_problem(const settings::Settings&, std::string_view field,
                                         const signals::SignalTable& table) {
    // Saving always writes at least the constant 0.0 signal.
    if (field == "signals" && table.empty()) return "empty signal table";
    return std::nullopt;
}

}  // namespace protocols::file
