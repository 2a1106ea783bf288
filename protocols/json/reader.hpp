// Reading a protocol's JSON form, as `pyvora build` does: the text is checked whole as JSON
// (document.hpp), then taken as Protocol.from_dict takes the same data, field by field on the
// walk of the records, with the value rules loading a file applies. "NaN", "Infinity" and
// "-Infinity" are floats where a float is due, and texts everywhere else.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "protocols/settings.hpp"

namespace protocols::json {

// Why a text is not a protocol's JSON form.
class Refusal : public std::runtime_error {
public:
    // message: "not JSON: <reason> (line L, column C)", "duplicate key 'k' for <path>", or
    // "<what is wrong> for <path>" as from_dict words it.
    Refusal(std::string message, std::string path, std::optional<std::size_t> offset)
        : std::runtime_error(std::move(message)), path_(std::move(path)), offset_(offset) {}
    // The field, as `signals[2].samples[17]`; empty for a text that is not JSON.
    const std::string& path() const noexcept { return path_; }
    // The byte of the text where the refused value or token starts.
    std::optional<std::size_t> offset() const noexcept { return offset_; }

private:
    std::string path_;
    std::optional<std::size_t> offset_;
};

// How a refusal writes a text of the JSON (a key, a kind, a str given for another type): the
// module writes Python's repr() of it. It may throw; the exception goes through.
using Quote = std::string (*)(std::string_view utf8);

// Reads the form; throws Refusal, or std::bad_alloc.
settings::Settings read_json(std::string_view text, Quote quote);

}  // namespace protocols::json
