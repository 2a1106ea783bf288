// The one renderer of the text form, generic over any value built from the kinds of field
// (record.hpp). It writes to a sink: a counting sink measures the exact text, a writing sink
// fills room of that size, so the layout exists once.
#pragma once

#include <algorithm>
#include <array>
#include <charconv>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "encoding/sample_digest.hpp"
#include "protocols/record.hpp"
#include "protocols/text/escape.hpp"
#include "protocols/text/float_text.hpp"

namespace protocols::text {

struct TextSize {
    std::size_t length;  // bytes
    bool ascii;          // every byte below 0x80
};

// How lists of samples are written: one line per sample (the text form), or one line that
// gives their count, range and digest (`<300000 samples, min 0, max 32767, crc32 8a1c04f3>`),
// for a readable overview of protocols whose samples would fill millions of lines, in which
// any change of a sample still shows.
// `range` is the summary without its digest (`<300000 samples, min 0, max 32767>`), for views
// that name a signal beside its file's SHA-256.
enum class SampleLists { every_sample, summary, range };

namespace detail {

inline constexpr std::string_view blanks = "                                ";  // 32 spaces

// Decimal digits of 0..99, two per value.
inline constexpr char digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline std::size_t sample_chars(std::int16_t s) noexcept {
    const int v = s;
    const unsigned a = v < 0 ? static_cast<unsigned>(-v) : static_cast<unsigned>(v);
    return (v < 0) + 1 + (a >= 10) + (a >= 100) + (a >= 1000) + (a >= 10000);
}

inline char* put_sample(char* p, std::int16_t s) noexcept {
    const int v = s;
    unsigned a = static_cast<unsigned>(v);
    if (v < 0) {
        *p++ = '-';
        a = static_cast<unsigned>(-v);
    }
    if (a < 10) {
        *p = static_cast<char>('0' + a);
        return p + 1;
    }
    if (a < 100) {
        std::memcpy(p, digit_pairs + 2 * a, 2);
        return p + 2;
    }
    if (a < 1000) {
        *p = static_cast<char>('0' + a / 100);
        std::memcpy(p + 1, digit_pairs + 2 * (a % 100), 2);
        return p + 3;
    }
    if (a < 10000) {
        std::memcpy(p, digit_pairs + 2 * (a / 100), 2);
        std::memcpy(p + 2, digit_pairs + 2 * (a % 100), 2);
        return p + 4;
    }
    *p = static_cast<char>('0' + a / 10000);
    a %= 10000;
    std::memcpy(p + 1, digit_pairs + 2 * (a / 100), 2);
    std::memcpy(p + 3, digit_pairs + 2 * (a % 100), 2);
    return p + 5;
}

// What every pair of sinks shares (this renderer's and the JSON writer's): plain text and
// blanks, measured by the one and written by the other.
struct Measuring {
    std::size_t length = 0;

    void text(std::string_view s) noexcept { length += s.size(); }
    void spaces(std::size_t n) noexcept { length += n; }
};

// Writes into room that a Measuring sink counted.
struct Writing {
    char* p;

    void text(std::string_view s) noexcept {
        std::memcpy(p, s.data(), s.size());
        p += s.size();
    }
    void spaces(std::size_t n) noexcept {
        std::memset(p, ' ', n);
        p += n;
    }
};

// The characters of the samples' digits and signs, as put_sample writes them.
inline std::size_t sample_digits(std::span<const std::int16_t> samples) noexcept {
    std::size_t n = 0;
    for (const std::int16_t s : samples) n += sample_chars(s);
    return n;
}

// Measures without writing.
struct CountingSink : Measuring {
    bool ascii = true;

    void quoted(std::string_view utf8) noexcept {
        const QuotedSize q = quoted_size(utf8);
        length += q.length;
        ascii = ascii && q.ascii;
    }
    // One line per sample: indent, the number, ",\n".
    void sample_lines(std::size_t indent, std::span<const std::int16_t> samples) noexcept {
        length += samples.size() * (indent + 2) + sample_digits(samples);
    }
};

// Writes into room that a CountingSink measured.
struct WritingSink : Writing {
    void quoted(std::string_view utf8) noexcept { p = write_quoted(p, utf8); }
    void sample_lines(std::size_t indent, std::span<const std::int16_t> samples) noexcept {
        // A protocol's samples sit at 24 spaces; a fixed-size copy keeps that loop tight.
        if (indent == 24)
            p = lines_at<24>(p, samples);
        else
            for (const std::int16_t s : samples) {
                spaces(indent);
                p = put_sample(p, s);
                std::memcpy(p, ",\n", 2);
                p += 2;
            }
    }

private:
    template <std::size_t Indent>
    static char* lines_at(char* out, std::span<const std::int16_t> samples) noexcept {
        static_assert(Indent <= blanks.size());
        for (const std::int16_t s : samples) {
            std::memcpy(out, blanks.data(), Indent);
            out = put_sample(out + Indent, s);
            std::memcpy(out, ",\n", 2);
            out += 2;
        }
        return out;
    }
};

// A visitor of the walk (record.hpp) that writes each kind at its level.
template <class Sink>
class Renderer {
public:
    explicit Renderer(Sink& sink, SampleLists samples = SampleLists::every_sample)
        : out_(sink), samples_(samples) {}

    template <class T>
    void value(const T& v, int level) {
        protocols::visit(*this, v, level);
    }

    void scalar(bool v, int) { out_.text(v ? "true" : "false"); }
    void scalar(std::uint64_t v, int) { integer(v); }
    void scalar(double v, int) {
        char buf[max_float_text];
        out_.text({buf, static_cast<std::size_t>(format_float(buf, v) - buf)});
    }
    void text(const std::string& v, int) { out_.quoted(v); }
    void samples(const signals::Samples& v, int level) { list(std::span<const std::int16_t>(v), level); }
    template <class L>
    void list(const L& v, int level) {
        list(std::span<const typename L::value_type>(v), level);
    }

    template <class T>
    void record(const T& v, int level) {
        out_.text(T::record_name);
        out_.text(" {\n");
        walk(*this, v, level);
        indent(level);
        out_.text("}");
    }
    template <class R, class T>
    void field(const R&, std::string_view name, const T& v, int level) {
        indent(level + 1);
        out_.text(name);
        out_.text(": ");
        value(v, level + 1);
        out_.text(",\n");
    }

    // Not flat: the kind's name, then its parameter record inside brackets.
    void signal(const signals::Signal& v, int level) {
        out_.text(kind_name(v));
        out_.text("(\n");
        indent(level + 1);
        std::visit([&](const auto& payload) { value(payload, level + 1); }, v.params);
        out_.text(",\n");
        indent(level);
        out_.text(")");
    }

private:
    void indent(int level) { out_.spaces(4 * static_cast<std::size_t>(level)); }

    template <class T>
    void integer(T v) {
        char buf[24];
        out_.text({buf, static_cast<std::size_t>(std::to_chars(buf, buf + sizeof buf, v).ptr - buf)});
    }

    // "<N samples, min A, max B, crc32 XXXXXXXX>" (encoding/sample_digest.hpp), or "<0 samples>".
    void sample_summary(std::span<const std::int16_t> samples) {
        char buf[80];
        char* const end = buf + sizeof buf;
        char* p = buf;
        const auto put = [&](std::string_view s) { p = std::copy(s.begin(), s.end(), p); };
        put("<");
        p = std::to_chars(p, end, samples.size()).ptr;
        put(samples.size() == 1 ? " sample" : " samples");
        if (!samples.empty()) {
            encoding::SampleSummary summary;
            if (std::same_as<Sink, CountingSink> || samples_ == SampleLists::range) {
                // Measuring needs the range's digits only (the digest is always 8 of them), as
                // does the range alone: a plain min and max loop, which the compiler vectorises.
                summary.low = summary.high = samples[0];
                for (const std::int16_t s : samples) {
                    summary.low = std::min(summary.low, s);
                    summary.high = std::max(summary.high, s);
                }
            } else {
                summary = encoding::summarise(samples);
            }
            put(", min ");
            p = std::to_chars(p, end, summary.low).ptr;
            put(", max ");
            p = std::to_chars(p, end, summary.high).ptr;
            if (samples_ == SampleLists::summary) {
                put(", crc32 ");
                for (int shift = 28; shift >= 0; shift -= 4) *p++ = "0123456789abcdef"[(summary.crc32 >> shift) & 0xF];
            }
        }
        put(">");
        out_.text({buf, static_cast<std::size_t>(p - buf)});
    }

    template <class E>
    void list(std::span<const E> elements, int level) {
        if constexpr (std::same_as<E, std::int16_t>) {
            if (samples_ != SampleLists::every_sample) {
                sample_summary(elements);
                return;
            }
        }
        if (elements.empty()) {
            out_.text("[]");
            return;
        }
        out_.text("[\n");
        if constexpr (std::same_as<E, std::int16_t>) {
            out_.sample_lines(4 * static_cast<std::size_t>(level + 1), elements);
        } else {
            for (const E& e : elements) {
                indent(level + 1);
                value(e, level + 1);
                out_.text(",\n");
            }
        }
        indent(level);
        out_.text("]");
    }

    Sink& out_;
    SampleLists samples_;
};

}  // namespace detail

// The exact size of value's text at the given level.
template <class T>
TextSize measure_value(const T& value, int level = 0,
                       SampleLists samples = SampleLists::every_sample) {
    detail::CountingSink sink;
    detail::Renderer<detail::CountingSink>(sink, samples).value(value, level);
    return {sink.length, sink.ascii};
}

// Writes value's text at out, which has room for measure_value(value, level, samples).length
// bytes; returns the end.
template <class T>
char* render_value_into(const T& value, char* out, int level = 0,
                        SampleLists samples = SampleLists::every_sample) {
    detail::WritingSink sink{out};
    detail::Renderer<detail::WritingSink>(sink, samples).value(value, level);
    return sink.p;
}

// The text of any record, list or leaf, rendered at the given level.
template <class T>
std::string render_value(const T& value, int level = 0,
                         SampleLists samples = SampleLists::every_sample) {
    const std::size_t length = measure_value(value, level, samples).length;
    std::string text;
#if defined(__cpp_lib_string_resize_and_overwrite)
    text.resize_and_overwrite(length, [&](char* room, std::size_t) {
        return static_cast<std::size_t>(render_value_into(value, room, level, samples) - room);
    });
#else
    text.resize(length);
    render_value_into(value, text.data(), level, samples);
#endif
    return text;
}

}  // namespace protocols::text
