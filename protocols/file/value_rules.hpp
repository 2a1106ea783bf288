// What a protocol can hold beyond what its field types allow. The methods never store anything
// else and saving writes nothing else, so a value outside these rules does not come from a saved
// protocol: the decoder refuses it in a file, and Protocol.from_dict in a dict. Each rule gives
// what is wrong in the words both report, such as "value 1.5 outside 0.0..1.0".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocols/config.hpp"
#include "protocols/settings.hpp"

namespace protocols::file {

using config::MAX_SAMPLE;
using config::MAX_SAMPLES;
using config::MIN_SAMPLE;

constexpr bool sample_allowed(std::int64_t value) noexcept {
    return value >= MIN_SAMPLE && value <= MAX_SAMPLE;
}

// "sample -1 outside 0..32767"; value_text is the sample as written in decimal.
std::string sample_problem(std::string_view value_text);

// "9000001 samples exceed the limit of 9000000" when count is above MAX_SAMPLES.
std::optional<std::string> sample_count_problem(std::uint64_t count);

// The rules on single fields of a record, by field name: intensity 0.0..1.0, session_duration
// 0.01..1800.0, a non-empty signal table. Fields without a rule have no problem.
std::optional<std::string> field_problem(const settings::Settings&, std::string_view field, const double& value);
std::optional<std::string> field_problem(const settings::Settings&, std::string_view field,
                                         const signals::SignalTable& table);
template <class R, class T>
std::optional<std::string> field_problem(const R&, std::string_view, const T&) {
    return std::nullopt;
}

}  // namespace protocols::file
