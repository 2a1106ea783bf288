// What a protocol can hold beyond what its field types allow. The methods never store anything
// else and saving writes nothing else, so a value outside these rules does not come from a saved
// protocol: the decoder refuses it in a file, and Protocol.from_dict in a dict. Each rule gives
// what is wrong in the words both report, such as "value 1.5 outside 0.0..1.0".
#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "protocols/config.hpp"
#include "protocols/settings.hpp"

namespace protocols::rules {

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

// The rules on single members of a record, each beside the member it judges: intensity
// 0.0..1.0, session_duration 0.01..1800.0, a non-empty signal table (in a file).
std::optional<std::string> intensity_problem(const double& value);
std::optional<std::string> session_duration_problem(const double& value);
std::optional<std::string> signal_table_problem(const signals::SignalTable& table);

// What becomes of a value that breaks a rule: refused where it is read (a file, a dict), or
// reported by find_problems() (protocol_rules.hpp).
enum class Severity { refused, reported };

// What is being read: a file, or the plain data of Protocol.from_dict. A dict may hold what a
// new protocol holds (an empty signal table), since it is the inverse of to_dict(); a file may not.
enum class Reading { file, dict };

namespace detail {
template <class R, class T>
struct Rule {
    static constexpr Severity severity = Severity::refused;
    T R::*member;
    std::optional<std::string> (*problem)(const T&);
    bool in_dicts = true;  // false: a rule of files only
};

inline constexpr std::tuple rules{
    Rule<settings::Settings, double>{&settings::Settings::intensity, intensity_problem},
    Rule<settings::Settings, double>{&settings::Settings::session_duration, session_duration_problem},
    Rule<settings::Settings, signals::SignalTable>{&settings::Settings::signals, signal_table_problem, false},
};
}  // namespace detail

// What is wrong with `member`, a member of `record`, by the rules on that member when reading;
// nothing for members without a rule.
template <class R, class T>
std::optional<std::string> field_problem(const R& record, const T& member, Reading reading = Reading::file) {
    std::optional<std::string> problem;
    std::apply(
        [&](const auto&... rule) {
            const auto judge = [&]<class RR, class TT>(const detail::Rule<RR, TT>& r) {
                if constexpr (std::same_as<RR, R> && std::same_as<TT, T>) {
                    if (&(record.*r.member) == &member && (reading == Reading::file || r.in_dicts))
                        problem = r.problem(member);
                }
            };
            (judge(rule), ...);
        },
        detail::rules);
    return problem;
}

}  // namespace protocols::rules
