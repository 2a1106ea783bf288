#include "protocols/text/quote.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <functional>

#include "protocols/text/escape.hpp"
#include "protocols/text/unicode_table.hpp"

namespace protocols::text {

namespace {

struct Decoded {
    char32_t cp;
    std::size_t len;
    bool valid;
};

// One UTF-8 sequence starting at a non-ASCII byte; a malformed or truncated one consumes a
// single byte so that decoding resynchronises and never reads past end.
Decoded decode(const unsigned char* p, const unsigned char* end) noexcept {
    const unsigned char c = *p;
    std::size_t len;
    char32_t cp;
    if (c >= 0xC2 && c <= 0xDF) { len = 2; cp = c & 0x1F; }
    else if (c >= 0xE0 && c <= 0xEF) { len = 3; cp = c & 0x0F; }
    else if (c >= 0xF0 && c <= 0xF4) { len = 4; cp = c & 0x07; }
    else return {0xFFFD, 1, false};
    if (static_cast<std::size_t>(end - p) < len) return {0xFFFD, 1, false};
    for (std::size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return {0xFFFD, 1, false};
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return {0xFFFD, 1, false};
    return {cp, len, true};
}

constexpr std::string_view replacement = "\xEF\xBF\xBD";

// \u{<lowercase hex>} into buf; returns its length.
std::size_t unicode_escape(char (&buf)[16], char32_t cp) noexcept {
    std::memcpy(buf, "\\u{", 3);
    auto r = std::to_chars(buf + 3, buf + 12, static_cast<std::uint32_t>(cp), 16);
    *r.ptr++ = '}';
    return static_cast<std::size_t>(r.ptr - buf);
}

// The escaping walk, shared by sizing and writing so that both always agree.
template <class Out>
void emit_quoted(Out& out, std::string_view utf8) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* end = p + utf8.size();
    char buf[16];
    out.ascii("\"");
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            switch (c) {
                case '\\': out.ascii("\\\\"); break;
                case '"': out.ascii("\\\""); break;
                case '\t': out.ascii("\\t"); break;
                case '\r': out.ascii("\\r"); break;
                case '\n': out.ascii("\\n"); break;
                case '\0': out.ascii("\\0"); break;
                default:
                    if (c < 0x20 || c == 0x7F)
                        out.ascii({buf, unicode_escape(buf, c)});
                    else
                        out.ascii({reinterpret_cast<const char*>(p), 1});
            }
            ++p;
            continue;
        }
        const Decoded d = decode(p, end);
        if (!d.valid)
            out.other(replacement);
        else if (needs_unicode_escape(d.cp))
            out.ascii({buf, unicode_escape(buf, d.cp)});
        else
            out.other({reinterpret_cast<const char*>(p), d.len});
        p += d.len;
    }
    out.ascii("\"");
}

struct Counter {
    QuotedSize size{0, true};
    void ascii(std::string_view s) noexcept { size.length += s.size(); }
    void other(std::string_view s) noexcept {
        size.length += s.size();
        size.ascii = false;
    }
};

struct Writer {
    char* p;
    void ascii(std::string_view s) noexcept {
        std::memcpy(p, s.data(), s.size());
        p += s.size();
    }
    void other(std::string_view s) noexcept { ascii(s); }
};

}  // namespace

bool needs_unicode_escape(char32_t cp) noexcept {
    using unicode_table::escaped;
    // First range whose last code point is not below cp.
    const auto* it = std::lower_bound(std::begin(escaped), std::end(escaped), cp,
                                      [](const unicode_table::Range& r, char32_t v) {
                                          return r.last < v;
                                      });
    return it != std::end(escaped) && it->first <= cp;
}

QuotedSize quoted_size(std::string_view utf8) noexcept {
    Counter c;
    emit_quoted(c, utf8);
    return c.size;
}

char* write_quoted(char* out, std::string_view utf8) noexcept {
    Writer w{out};
    emit_quoted(w, utf8);
    return w.p;
}

void append_quoted(std::string& out, std::string_view utf8) {
    // Growing out would invalidate a view into it.
    const char* base = out.data();
    if (!utf8.empty() && std::less_equal<const char*>()(base, utf8.data()) &&
        std::less<const char*>()(utf8.data(), base + out.size())) {
        const std::string copy(utf8);
        append_quoted(out, copy);
        return;
    }
    const std::size_t old = out.size();
    out.resize(old + quoted_size(utf8).length);
    write_quoted(out.data() + old, utf8);
}

std::string quoted(std::string_view utf8) {
    std::string out;
    append_quoted(out, utf8);
    return out;
}

}  // namespace protocols::text
