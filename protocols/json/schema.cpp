#include "protocols/json/schema.hpp"

#include <array>
#include <cstdint>
#include <limits>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "protocols/config.hpp"
#include "protocols/record.hpp"
#include "protocols/settings.hpp"
#include "protocols/text/float_text.hpp"

namespace protocols::json {
namespace {

namespace config = protocols::config;
namespace sig = protocols::signals;

// The texts the JSON form writes for the floats JSON has no number for.
constexpr std::array<std::string_view, 3> non_finite = {"NaN", "Infinity", "-Infinity"};

std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out += '"';
}

std::string target(std::string_view name) { return "#/$defs/" + std::string(name); }

std::string ref(std::string_view name) { return "{\"$ref\": " + quoted(target(name)) + "}"; }

std::string array_of(const std::string& items) { return "{\"type\": \"array\", \"items\": " + items + "}"; }

// "a, b, c" of texts already in JSON, starting at `column`; a line that would pass 110 columns
// goes on under the first item.
std::string joined(const std::vector<std::string>& items, std::size_t column = 0) {
    std::string out;
    std::size_t at = column;
    for (const std::string& item : items) {
        if (!out.empty() && at + item.size() + 2 > 110) {
            out.append(",\n").append(column, ' ');
            at = column;
        } else if (!out.empty()) {
            out.append(", ");
            at += 2;
        }
        out.append(item);
        at += item.size();
    }
    return out;
}

// 9000000 as "9,000,000".
std::string grouped(std::uint64_t n) {
    const std::string digits = std::to_string(n);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

// One record's definition: its properties in field order, all required, no others.
struct Object {
    std::vector<std::pair<std::string, std::string>> properties;

    std::string text() const {
        std::string props, required;
        std::vector<std::string> names;
        for (const auto& [name, schema] : properties) {
            props.append(props.empty() ? "" : ",\n").append("        ").append(quoted(name)).append(": ").append(schema);
            names.push_back(quoted(name));
        }
        return "{\n      \"type\": \"object\",\n      \"properties\": {\n" + props +
               "\n      },\n      \"required\": [" + joined(names, 19) + "],\n      \"additionalProperties\": false\n    }";
    }
};

// A visitor of the walk over default values: each kind gives its schema, each record and
// signal kind a definition, in the order the walk first meets them.
class SchemaWriter {
public:
    std::string scalar(const bool&) { return ref("flag"); }
    std::string scalar(const std::uint64_t&) { return ref("u64"); }
    std::string scalar(const double&) { return ref("float"); }
    std::string text(const std::string&) { return "{\"type\": \"string\"}"; }
    std::string samples(const sig::Samples&) { return array_of("{\"type\": \"integer\"}"); }
    template <class L>
    std::string list(const L&) {
        const typename L::value_type item{};
        return array_of(protocols::visit(*this, item));
    }

    template <Record R>
    std::string record(const R& record) {
        define(R::record_name, [&] {
            Object object;
            walk(*this, record, object);
            return object.text();
        });
        return ref(R::record_name);
    }
    template <class R, class T>
    void field(const R&, std::string_view name, const T& member, Object& object) {
        object.properties.emplace_back(name, protocols::visit(*this, member));
    }

    // One definition per kind, each flat: its `kind` and its parameters' fields.
    std::string signal(const sig::Signal&) {
        define("Signal", [&] {
            std::vector<std::string> kinds;
            [&]<std::size_t... I>(std::index_sequence<I...>) {
                (kind_definition(sig::Signal{sig::Signal::Params(std::in_place_index<I>)}, kinds), ...);
            }(std::make_index_sequence<std::variant_size_v<sig::Signal::Params>>{});
            return "{\n      \"oneOf\": [" + joined(kinds, 16) + "]\n    }";
        });
        return ref("Signal");
    }
    void kind(const sig::Signal& signal, Object& object) {
        object.properties.emplace_back(kind_field, "{\"const\": " + quoted(kind_name(signal)) + "}");
    }

    // All definitions, in order.
    std::string definitions() const {
        std::string out;
        for (const auto& [name, body] : defs_) {
            out.append(out.empty() ? "" : ",\n").append("    ").append(quoted(name)).append(": ").append(body);
        }
        return out;
    }

    void add(std::string_view name, std::string body) { defs_.emplace_back(name, std::move(body)); }

private:
    // A definition keeps its place from when it is first met; its body may define more.
    template <class F>
    void define(std::string_view name, F&& body) {
        for (const auto& def : defs_) {
            if (def.first == name) return;
        }
        const std::size_t slot = defs_.size();
        defs_.emplace_back(name, std::string());
        std::string text = body();
        defs_[slot].second = std::move(text);
    }

    void kind_definition(const sig::Signal& signal, std::vector<std::string>& kinds) {
        const std::string_view name = kind_name(signal);
        kinds.push_back(ref(name));
        define(name, [&] {
            Object object;
            walk_signal(*this, signal, object);
            return object.text();
        });
    }

    std::vector<std::pair<std::string_view, std::string>> defs_;
};

std::string description() {
    using text::float_text;
    std::string out =
        "The JSON form of a pyvora protocol, as `pyvora export` writes it and `pyvora build` reads it: "
        "Protocol.to_dict() with keys in field order, sample lists as arrays of integers and non-finite "
        "floats as the strings ";
    for (std::size_t i = 0; i < non_finite.size(); ++i) {
        out.append(i == 0 ? "" : i + 1 == non_finite.size() ? " and " : ", ").append(quoted(non_finite[i]));
    }
    out.append(". This schema gives the form; the value rules of a protocol file (intensity ")
        .append(float_text(config::MIN_INTENSITY)).append(" to ").append(float_text(config::MAX_INTENSITY))
        .append(", session duration ").append(float_text(config::MIN_SESSION_DURATION)).append(" to ")
        .append(float_text(config::MAX_SESSION_DURATION)).append(" s, samples ")
        .append(std::to_string(config::MIN_SAMPLE)).append(" to ").append(std::to_string(config::MAX_SAMPLE))
        .append(" and at most ").append(grouped(config::MAX_SAMPLES)).append(" of them, a non-empty signal table, ")
        .append(std::to_string(settings::MONITOR_TRACES))
        .append(" monitor flags) are checked by `pyvora build` as loading a file checks them.");
    return out;
}

}  // namespace

std::string schema() {
    SchemaWriter writer;
    std::vector<std::string> texts;
    for (const std::string_view name : non_finite) texts.push_back(quoted(name));
    writer.add("float", "{\n      \"description\": " +
                               quoted("A 64-bit float: a JSON number, or one of the strings for the values JSON "
                                      "has no number for. A NaN's sign and payload are not kept.") +
                               ",\n      \"anyOf\": [{\"type\": \"number\"}, {\"enum\": [" + joined(texts) + "]}]\n    }");
    writer.add("u64", "{\"type\": \"integer\", \"minimum\": 0, \"maximum\": " +
                             std::to_string(std::numeric_limits<std::uint64_t>::max()) + "}");
    writer.add("flag", "{\"type\": \"boolean\"}");
    const settings::Settings settings{};
    (void)protocols::visit(writer, settings);
    return "{\n  \"$schema\": \"https://json-schema.org/draft/2020-12/schema\",\n  \"title\": \"pyvora protocol\",\n"
           "  \"description\": " + quoted(description()) + ",\n  \"$ref\": " + quoted(target(settings::Settings::record_name)) +
           ",\n  \"$defs\": {\n" + writer.definitions() + "\n  }\n}\n";
}

}  // namespace protocols::json
