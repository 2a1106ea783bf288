#include "protocols/rules/data_refusals.hpp"

#include <array>
#include <cstdint>

namespace protocols::rules {

std::string kind_problem(Due due, std::string_view given) {
    static constexpr std::array<std::string_view, 6> dues = {
        "a bool", "an int", "a float or an int", "a str", "a list", "a mapping"};
    return std::string("expected ").append(dues[static_cast<std::size_t>(due)]).append(", got ").append(given);
}

std::string flag_count_problem(std::size_t due, std::size_t given) {
    return "expected " + std::to_string(due) + " flags, got " + std::to_string(given);
}

std::string unknown_key(std::string_view quoted) { return std::string("unknown key ").append(quoted); }

std::string unknown_signal_kind(std::string_view kind) { return std::string("unknown signal kind ").append(kind); }

std::string count_range_problem(std::string_view int_text) {
    return std::string("value ").append(int_text).append(" outside 0..").append(std::to_string(UINT64_MAX));
}

std::string float_range_problem(std::string_view int_text) {
    return std::string("value ").append(int_text).append(" too large for a float");
}

std::string at_path(std::string what, std::string_view path) {
    if (!path.empty()) what.append(" for ").append(path);
    return what;
}

std::string int_size_text(std::size_t bits, bool negative) {
    return std::string(negative ? "<negative " : "<") + std::to_string(bits) + "-bit int>";
}

}  // namespace protocols::rules
