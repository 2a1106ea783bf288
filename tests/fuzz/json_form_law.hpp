// The laws of the JSON reader on any text: a text it accepts gives a protocol whose form, in
// both spellings, it accepts again with the same file bytes; and the same text with a blank
// after each comma outside strings (so that no sample list takes the fast road) is accepted to
// the same bytes, or refused for the same reason.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "encoding/encoder.hpp"
#include "protocols/file/record_encoding.hpp"
#include "protocols/json/reader.hpp"
#include "protocols/json/writer.hpp"

namespace fuzz {

inline std::string quote_for_law(std::string_view text) { return "'" + std::string(text) + "'"; }

// The file bytes of what the text reads as, or the refusal without its position.
inline std::string json_outcome(std::string_view text, std::optional<protocols::settings::Settings>* read = nullptr) {
    try {
        auto settings = protocols::json::read_json(text, quote_for_law);
        const auto bytes = protocols::file::encode(settings);
        if (read != nullptr) read->emplace(std::move(settings));
        return "accepted " + std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    } catch (const protocols::json::Refusal& refusal) {
        const std::string message = refusal.what();
        return message.substr(0, message.find(" (line "));
    }
}

// The text with a blank after each comma that is not inside a string.
inline std::string spaced(std::string_view text) {
    std::string out;
    bool in_string = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (in_string && text[i] == '\\' && i + 1 < text.size()) {
            out += text[++i];
        } else if (text[i] == '"') {
            in_string = !in_string;
        } else if (!in_string && text[i] == ',') {
            out += ' ';
        }
    }
    return out;
}

inline bool json_form_law_holds(std::string_view text) {
    std::optional<protocols::settings::Settings> read;
    const std::string outcome = json_outcome(text, &read);
    if (outcome != json_outcome(spaced(text))) return false;
    if (!read) return true;
    for (const auto per_line : {std::optional<std::size_t>{}, std::optional<std::size_t>{3}}) {
        const std::string form = protocols::json::to_json(*read, {per_line});
        if (json_outcome(form) != outcome) return false;
    }
    return true;
}

}  // namespace fuzz
