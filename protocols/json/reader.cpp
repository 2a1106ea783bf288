#include "protocols/json/reader.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <vector>

#include "protocols/field_path.hpp"
#include "protocols/rules/data_refusals.hpp"
#include "protocols/rules/value_rules.hpp"
#include "protocols/json/document.hpp"
#include "protocols/json/layout.hpp"
#include "protocols/json/writer.hpp"
#include "protocols/record.hpp"
#include "protocols/text/float_text.hpp"

namespace protocols::json {
namespace {

namespace sig = protocols::signals;
using rules::Due;

// What is wrong with the value at the reader's path, and where that value starts.
struct Wrong {
    std::string what;
    std::size_t offset;
};

// The number of bits of the integer whose decimal digits are given (no leading zero).
std::size_t bit_length(std::string_view digits) {
    if (digits.size() > 20000) {  // beyond exact work: from the leading digits and the length
        double lead = 0;
        std::from_chars(digits.data(), digits.data() + 17, lead);
        return static_cast<std::size_t>(std::log2(lead) + static_cast<double>(digits.size() - 17) * std::log2(10.0)) + 1;
    }
    std::vector<std::uint32_t> limbs;  // the value, 32 bits a limb, lowest first
    for (std::size_t at = 0; at < digits.size();) {
        const std::size_t take = std::min<std::size_t>(9, digits.size() - at);
        std::uint32_t chunk = 0;
        std::uint64_t scale = 1;
        for (std::size_t i = 0; i < take; ++i) {
            chunk = chunk * 10 + static_cast<std::uint32_t>(digits[at + i] - '0');
            scale *= 10;
        }
        at += take;
        std::uint64_t carry = chunk;
        for (std::uint32_t& limb : limbs) {
            const std::uint64_t v = limb * scale + carry;
            limb = static_cast<std::uint32_t>(v);
            carry = v >> 32;
        }
        if (carry != 0) limbs.push_back(static_cast<std::uint32_t>(carry));
    }
    if (limbs.empty()) return 0;
    return 32 * (limbs.size() - 1) + static_cast<std::size_t>(std::bit_width(limbs.back()));
}

// An integer as from_dict writes one: in decimal, or by its size beyond 256 bits.
std::string int_text(std::string_view token) {
    const bool negative = token[0] == '-';
    const std::string_view digits = token.substr(negative ? 1 : 0);
    if (digits == "0") return "0";
    static_assert(rules::int_digit_bits == 256);  // 10**77 is below 2**256
    if (digits.size() <= 77) return std::string(token);
    const std::size_t bits = bit_length(digits);
    if (bits <= rules::int_digit_bits) return std::string(token);
    return rules::int_size_text(bits, negative);
}

// The number of characters of a UTF-8 text.
std::size_t characters(std::string_view utf8) {
    return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// A visitor of the walk (record.hpp) reading each kind as from_dict reads it from the data
// the standard library's JSON reader would give.
class Reader {
public:
    FieldPath path;

    Reader(Document& doc, Quote quote) : doc_(doc), quote_(quote) {}

    void scalar(bool& value, const Node& n) {
        if (n.type != Type::yes && n.type != Type::no) refuse(n, rules::kind_problem(Due::a_bool, given(n)));
        value = n.type == Type::yes;
    }
    void scalar(std::uint64_t& value, const Node& n) {
        if (n.type != Type::integer) refuse(n, rules::kind_problem(Due::an_int, given(n)));
        const std::string_view t = token(n);
        const auto r = std::from_chars(t.data(), t.data() + t.size(), value);
        if (t[0] == '-' || r.ec != std::errc{}) {
            if (int_text(t) == "0") {
                value = 0;
                return;
            }
            refuse(n, rules::count_range_problem(int_text(t)));
        }
    }
    void scalar(double& value, const Node& n) {
        if (n.type == Type::real) {
            value = Document::real_value(token(n));
        } else if (n.type == Type::integer) {
            const std::string_view t = token(n);
            if (int_text(t) == "0") {
                value = 0.0;  // an int has no negative zero
                return;
            }
            value = Document::real_value(t);
            if (std::isinf(value)) refuse(n, rules::float_range_problem(int_text(t)));
        } else if (n.type == Type::string && doc_.equals(n, nan_text)) {
            value = std::nan("");
        } else if (n.type == Type::string && doc_.equals(n, infinity_text)) {
            value = HUGE_VAL;
        } else if (n.type == Type::string && doc_.equals(n, negative_infinity_text)) {
            value = -HUGE_VAL;
        } else {
            refuse(n, rules::kind_problem(Due::a_float, given(n)));
        }
    }
    void text(std::string& value, const Node& n) {
        if (n.type != Type::string) refuse(n, rules::kind_problem(Due::a_str, given(n)));
        value = doc_.decoded(n);
    }

    template <class T, class A>
    void list(std::vector<T, A>& items, const Node& n) {
        expect_list(n);
        items.clear();
        items.reserve(n.count);
        each(n, [&](const Node& item, std::size_t i) {
            protocols::at(*this, i, [&] { protocols::visit(*this, items.emplace_back(), item); });
        });
    }

    template <std::size_t N>
    void flags(std::array<bool, N>& flags, const Node& n) {
        expect_list(n);
        if (n.count != N) refuse(n, rules::flag_count_problem(N, n.count));
        each(n, [&](const Node& item, std::size_t i) { protocols::at(*this, i, [&] { scalar(flags[i], item); }); });
    }

    void samples(sig::Samples& samples, const Node& n) {
        expect_list(n);
        if (auto problem = rules::sample_count_problem(n.count)) refuse(n, std::move(*problem));
        if (n.samples != 0) {  // read on the fast road, every one within the rules
            samples = std::move(doc_.samples(n));
            return;
        }
        samples.resize(n.count);
        each(n, [&](const Node& item, std::size_t i) {
            if (item.type != Type::integer) {
                path.push(i);
                refuse(item, rules::kind_problem(Due::an_int, given(item)));
            }
            const std::string_view t = token(item);
            std::int64_t value = 0;
            const auto r = std::from_chars(t.data(), t.data() + t.size(), value);
            if (r.ec != std::errc{} || !rules::sample_allowed(value)) {
                path.push(i);
                refuse(item, rules::sample_problem(int_text(t)));
            }
            samples[i] = static_cast<std::int16_t>(value);
        });
    }

    template <Record R>
    void record(R& record, const Node& n) {
        expect_object(n);
        protocols::walk(*this, record, n);
    }
    // The record's fields from an object that holds exactly them (and a signal's kind).
    template <Record R>
    void open(R&, const Node& n) {
        static const std::vector<std::string_view> names = [] {
            std::vector<std::string_view> out;
            const R record{};
            R::fields(record, [&](std::string_view name, const auto&) { out.push_back(name); });
            return out;
        }();
        members(n, [&](const Node& key, const Node&) {
            const std::string name = doc_.decoded(key);
            if (SignalParams<R> && name == kind_field) return;
            if (std::find(names.begin(), names.end(), name) != names.end()) return;
            refuse(key, rules::unknown_key(quote_(name)));
        });
    }
    template <class R, class T>
    void field(R& record, std::string_view name, T& member, const Node& n) {
        const Node* item = get(n, name);
        if (item == nullptr) refuse(n, std::string(rules::missing_key));
        protocols::visit(*this, member, *item);
        if (auto problem = rules::field_problem(record, member)) refuse(*item, std::move(*problem));
    }

    void signal(sig::Signal& signal, const Node& n) {
        expect_object(n);
        protocols::walk_signal(*this, signal, n);
    }
    std::size_t kind(sig::Signal&, const Node& n) {
        const Node* kind = get(n, kind_field);
        if (kind == nullptr) refuse(n, std::string(rules::missing_key));
        if (kind->type != Type::string) refuse(*kind, rules::kind_problem(Due::a_str, given(*kind)));
        const std::string name = doc_.decoded(*kind);
        std::size_t index = 0;
        while (index < sig::Signal::kind_names.size() && sig::Signal::kind_names[index] != name) ++index;
        if (index == sig::Signal::kind_names.size()) refuse(*kind, rules::unknown_signal_kind(quote_(name)));
        return index;
    }

private:
    [[noreturn]] static void refuse(const Node& n, std::string what) { throw Wrong{std::move(what), n.start}; }

    std::string_view token(const Node& n) const { return doc_.text().substr(n.start, n.end - n.start); }

    // "bool True", "int 5", "str 'abc'", "list": as from_dict describes what it was given.
    std::string given(const Node& n) const {
        switch (n.type) {
            case Type::object: return "dict";
            case Type::array:
            case Type::numbers: return "list";
            case Type::integer: return "int " + int_text(token(n));
            case Type::real: return "float " + text::float_text(Document::real_value(token(n)));
            case Type::yes: return "bool True";
            case Type::no: return "bool False";
            case Type::null: return "None";
            case Type::string: {
                const std::string s = doc_.decoded(n);
                return characters(s) <= rules::shown_str_characters ? "str " + quote_(s) : "str";
            }
        }
        return "";
    }

    void expect_list(const Node& n) const {
        if (n.type != Type::array && n.type != Type::numbers) refuse(n, rules::kind_problem(Due::a_list, given(n)));
    }
    void expect_object(const Node& n) const {
        if (n.type != Type::object) refuse(n, rules::kind_problem(Due::a_mapping, given(n)));
    }

    // Each item of a list: f(item, position).
    template <class F>
    void each(const Node& n, F&& f) const {
        if (n.type == Type::numbers) return doc_.each_number(n, f);
        std::size_t i = doc_.index(n) + 1;
        for (std::size_t k = 0; k < n.count; ++k) {
            const Node& item = doc_.node(i);
            f(item, k);
            i = item.next;
        }
    }
    // Each member of an object: f(key, value).
    template <class F>
    void members(const Node& n, F&& f) const {
        std::size_t i = doc_.index(n) + 1;
        for (std::size_t k = 0; k < n.count; ++k) {
            const Node& key = doc_.node(i);
            const Node& value = doc_.node(key.next);
            f(key, value);
            i = value.next;
        }
    }
    const Node* get(const Node& n, std::string_view name) const {
        const Node* found = nullptr;
        members(n, [&](const Node& key, const Node& value) {
            if (found == nullptr && doc_.equals(key, name)) found = &value;
        });
        return found;
    }

    Document& doc_;
    Quote quote_;
};

}  // namespace

settings::Settings read_json(std::string_view text, Quote quote) {
    std::optional<Document> doc;
    try {
        // A list or an object where a scalar is due is refused by what it is, from_dict's words.
        doc.emplace(text, layout_depth() + 1);
    } catch (const SyntaxRefusal& refusal) {
        throw Refusal("not JSON: " + refusal.reason + " " + Document::position(text, refusal.offset), "",
                      refusal.offset);
    }
    if (const auto& duplicate = doc->duplicate()) {
        throw Refusal(rules::at_path("duplicate key " + quote(duplicate->key), duplicate->path), duplicate->path,
                      duplicate->offset);
    }
    Reader reader(*doc, quote);
    try {
        settings::Settings settings;
        protocols::visit(reader, settings, doc->root());
        return settings;
    } catch (const Wrong& wrong) {
        std::string path = reader.path.text();
        std::string message = rules::at_path(wrong.what, path);
        throw Refusal(std::move(message), std::move(path), wrong.offset);
    }
}

}  // namespace protocols::json
