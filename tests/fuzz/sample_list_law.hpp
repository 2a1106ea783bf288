// The JSON sample-list reader against a plain reading of the same text: the text between the
// brackets split at its commas, each piece one to five digits, no leading zero, at most 32767,
// after an optional line break (a line feed and any spaces); the last piece may end in one too.
#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "protocols/json/sample_list.hpp"

namespace fuzz {

inline std::optional<std::vector<std::int16_t>> plain_sample_list(std::string_view text) {
    if (text.size() < 2 || text.front() != '[' || text.back() != ']') return std::nullopt;
    std::string_view rest = text.substr(1, text.size() - 2);
    std::vector<std::int16_t> samples;
    const auto without_break = [](std::string_view piece) {
        if (!piece.empty() && piece.front() == '\n') {
            piece.remove_prefix(1);
            while (!piece.empty() && piece.front() == ' ') piece.remove_prefix(1);
        }
        return piece;
    };
    for (;;) {
        const auto comma = rest.find(',');
        std::string_view piece = without_break(rest.substr(0, comma));
        if (comma == std::string_view::npos) {
            const auto feed = piece.rfind('\n');
            if (feed != std::string_view::npos && piece.find_first_not_of(' ', feed + 1) == std::string_view::npos) {
                piece = piece.substr(0, feed);
            }
        }
        if (piece.empty() || piece.size() > 5 || (piece.size() > 1 && piece[0] == '0')) return std::nullopt;
        for (char c : piece) {
            if (c < '0' || c > '9') return std::nullopt;
        }
        unsigned value = 0;
        std::from_chars(piece.data(), piece.data() + piece.size(), value);
        if (value > 32767) return std::nullopt;
        samples.push_back(static_cast<std::int16_t>(value));
        if (comma == std::string_view::npos) return samples;
        rest.remove_prefix(comma + 1);
    }
}

// The reader gives the plain reading's samples, or refuses exactly where it refuses; the
// count always has room for them.
inline bool sample_list_law_holds(std::string_view text) {
    const auto expected = plain_sample_list(text);
    std::vector<std::int16_t> out(protocols::json::sample_list_length(text));
    const bool read = protocols::json::read_sample_list(text, out);
    if (!expected) return !read;
    return read && out == *expected;
}

}  // namespace fuzz
