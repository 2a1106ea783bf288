#include "protocols/json/writer.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <variant>

#include "protocols/record.hpp"
#include "protocols/text/float_text.hpp"
#include "protocols/text/renderer.hpp"

namespace protocols::json {
namespace {

namespace sig = protocols::signals;
using text::detail::put_sample;
using text::detail::sample_digits;

// The escape of a byte of a JSON string: "" for a byte written as it is.
std::string_view escape_of(unsigned char c) noexcept {
    static constexpr std::string_view shorts[] = {"\\b", "\\t", "\\n", "", "\\f", "\\r"};
    if (c == '"') return "\\\"";
    if (c == '\\') return "\\\\";
    if (c >= 0x20) return "";
    if (c >= 8 && c <= 13 && c != 11) return shorts[c - 8];
    return "\\u00";  // followed by two hex digits
}

// For each sample 0..32767 its digits and a comma, in the low bytes of a word (the first
// digit lowest), and their count in the top byte: one store and one add a sample, no branch
// on the digits (a table of 256 KiB, which stays in the cache while a list is written).
const std::array<std::uint64_t, 32768>& sample_words() {
    static const auto table = [] {
        auto words = std::make_unique<std::array<std::uint64_t, 32768>>();
        for (std::size_t v = 0; v < words->size(); ++v) {
            char text[8] = {};
            char* end = put_sample(text, static_cast<std::int16_t>(v));
            *end++ = ',';
            std::uint64_t word = 0;
            std::memcpy(&word, text, 7);
            (*words)[v] = word | (static_cast<std::uint64_t>(end - text) << 56);
        }
        return words;
    }();
    return *table;
}

// Writes the samples each followed by a comma; every store is of 8 bytes, so up to 6 bytes
// after the text are written too.
inline char* put_samples(char* p, std::span<const std::int16_t> samples) noexcept {
    const auto& words = sample_words();
    for (const std::int16_t s : samples) {
        if (s < 0) [[unlikely]] {  // never in a protocol; written all the same
            p = put_sample(p, s);
            *p++ = ',';
            continue;
        }
        const std::uint64_t word = words[static_cast<std::size_t>(s)];
        std::memcpy(p, &word, 8);
        p += word >> 56;
    }
    return p;
}

// Measures without writing.
struct CountingSink : text::detail::Measuring {
    void string(std::string_view s) noexcept {
        length += 2 + s.size();
        for (const char c : s) {
            const std::string_view e = escape_of(static_cast<unsigned char>(c));
            if (!e.empty()) length += e.size() + (e.size() == 4 ? 2 : 0) - 1;
        }
    }
    void samples(std::span<const std::int16_t> samples, std::size_t per_line, std::size_t indent) noexcept {
        this->samples(samples);  // then per line a line feed and its indent, and the closing one
        const std::size_t lines = (samples.size() + per_line - 1) / per_line;
        length += lines * (1 + indent + 2) + 1 + indent;
    }
    // A comma after each sample, the last one's bracket instead.
    void samples(std::span<const std::int16_t> samples) noexcept {
        length += samples.size() + sample_digits(samples);
    }
};

// Writes into room that a CountingSink measured.
struct WritingSink : text::detail::Writing {
    void string(std::string_view s) noexcept {
        static constexpr char hex[] = "0123456789abcdef";
        *p++ = '"';
        for (const char c : s) {
            const auto b = static_cast<unsigned char>(c);
            const std::string_view e = escape_of(b);
            if (e.empty()) {
                *p++ = c;
                continue;
            }
            text(e);
            if (e.size() == 4) {
                *p++ = hex[b >> 4];
                *p++ = hex[b & 15];
            }
        }
        *p++ = '"';
    }
    // "[", then per line a line feed, the indent and two spaces, and the line's samples each
    // followed by a comma, but for the last one; then a line feed, the indent and "]".
    void samples(std::span<const std::int16_t> samples, std::size_t per_line, std::size_t indent) noexcept {
        for (std::size_t at = 0; at < samples.size(); at += per_line) {
            *p++ = '\n';
            spaces(indent + 2);
            p = line(samples.subspan(at, std::min(per_line, samples.size() - at)));
        }
        p[-1] = '\n';
        spaces(indent);
        *p++ = ']';
    }
    void samples(std::span<const std::int16_t> samples) noexcept {
        p = line(samples);
        p[-1] = ']';
    }

private:
    // The samples with a comma after each: all but the last three with 8-byte stores, whose
    // spare bytes the next samples overwrite; the last three (at least 6 bytes) exactly, so that
    // nothing after the line is touched.
    char* line(std::span<const std::int16_t> samples) noexcept {
        const std::size_t fast = samples.size() > 3 ? samples.size() - 3 : 0;
        char* out = put_samples(p, samples.first(fast));
        for (const std::int16_t s : samples.subspan(fast)) {
            out = put_sample(out, s);
            *out++ = ',';
        }
        return out;
    }
};

// A visitor of the walk writing each kind at its indentation level (two spaces a level).
template <class Sink>
class Writer {
public:
    Writer(Sink& sink, SampleLayout layout) : out_(sink), layout_(layout) {}

    void scalar(bool v, int) { out_.text(v ? "true" : "false"); }
    void scalar(std::uint64_t v, int) {
        char buf[24];
        out_.text({buf, static_cast<std::size_t>(std::to_chars(buf, buf + sizeof buf, v).ptr - buf)});
    }
    void scalar(double v, int) {
        if (std::isnan(v)) return out_.string(nan_text);
        if (std::isinf(v)) return out_.string(v > 0 ? infinity_text : negative_infinity_text);
        char buf[text::max_float_text];
        out_.text({buf, static_cast<std::size_t>(text::format_json_float(buf, v) - buf)});
    }
    void text(const std::string& v, int) { out_.string(v); }

    void samples(const sig::Samples& v, int level) {
        out_.text("[");
        if (v.empty()) {
            out_.text("]");
        } else if (layout_.per_line) {
            out_.samples(std::span<const std::int16_t>(v), *layout_.per_line, indent_of(level));
        } else {
            out_.samples(std::span<const std::int16_t>(v));
        }
    }

    // Lists of numbers and flags on one line, lists of records one item a line.
    template <class L>
    void list(const L& items, int level) {
        using T = typename L::value_type;
        if (items.empty()) return out_.text("[]");
        out_.text("[");
        for (std::size_t i = 0; i < items.size(); ++i) {
            if constexpr (Scalar<T>) {
                if (i != 0) out_.text(",");
                scalar(items[i], level);
            } else {
                out_.text(i == 0 ? "\n" : ",\n");
                out_.spaces(indent_of(level + 1));
                protocols::visit(*this, items[i], level + 1);
            }
        }
        if constexpr (!Scalar<T>) {
            out_.text("\n");
            out_.spaces(indent_of(level));
        }
        out_.text("]");
    }

    template <Record R>
    void record(const R& v, int level) {
        first_ = true;
        out_.text("{");
        walk(*this, v, level);
        close(level);
    }
    template <class R, class T>
    void field(const R&, std::string_view name, const T& v, int level) {
        key(name, level);
        protocols::visit(*this, v, level + 1);
    }

    // Flat: its kind, then its parameters' fields.
    void signal(const sig::Signal& v, int level) {
        first_ = true;
        out_.text("{");
        walk_signal(*this, v, level);
        close(level);
    }
    void kind(const sig::Signal& v, int level) {
        key(kind_field, level);
        out_.string(kind_name(v));
    }

private:
    static std::size_t indent_of(int level) { return 2 * static_cast<std::size_t>(level); }

    void key(std::string_view name, int level) {
        out_.text(first_ ? "\n" : ",\n");
        first_ = false;
        out_.spaces(indent_of(level + 1));
        out_.string(name);
        out_.text(": ");
    }
    void close(int level) {
        out_.text("\n");
        out_.spaces(indent_of(level));
        out_.text("}");
        first_ = false;
    }

    Sink& out_;
    SampleLayout layout_;
    bool first_ = true;  // no field of the record being written yet
};

}  // namespace

std::size_t json_size(const settings::Settings& s, SampleLayout layout) {
    CountingSink sink;
    Writer<CountingSink>(sink, layout).record(s, 0);
    return sink.length + 1;
}

char* write_json(const settings::Settings& s, char* out, SampleLayout layout) {
    WritingSink sink{out};
    Writer<WritingSink>(sink, layout).record(s, 0);
    *sink.p++ = '\n';
    return sink.p;
}

std::string to_json(const settings::Settings& s, SampleLayout layout) {
    std::string text(json_size(s, layout), '\0');
    write_json(s, text.data(), layout);
    return text;
}

}  // namespace protocols::json
