#include "protocols/json/document.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>
#include <unordered_set>

#include "protocols/config.hpp"
#include "protocols/json/sample_list.hpp"
#include "protocols/utf8.hpp"

namespace protocols::json {
namespace {

bool is_blank(char c) noexcept { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }
bool is_digit(char c) noexcept { return static_cast<unsigned char>(c - '0') <= 9; }
bool starts_number(char c) noexcept { return c == '-' || is_digit(c); }

int hex_value(char c) noexcept {
    if (is_digit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The four hex digits at p as a number, or -1.
long hex4(std::string_view text, std::size_t p) noexcept {
    if (p > text.size() || text.size() - p < 4) return -1;
    long v = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const int h = hex_value(text[p + i]);
        if (h < 0) return -1;
        v = v * 16 + h;
    }
    return v;
}

// Whether a number too far from 1 for a float is too small rather than too large.
bool underflows(std::string_view token) noexcept {
    std::size_t p = token[0] == '-' ? 1 : 0;
    long magnitude = -1;  // the power of ten of the first nonzero digit
    bool seen = false, point = false;
    long fraction = 0;
    for (; p < token.size() && token[p] != 'e' && token[p] != 'E'; ++p) {
        if (token[p] == '.') {
            point = true;
            continue;
        }
        if (point) ++fraction;
        if (!seen && token[p] != '0') {
            seen = true;
            magnitude = point ? -fraction : 0;
        } else if (seen && !point) {
            ++magnitude;
        }
    }
    if (!seen) return true;
    long exponent = 0;
    bool negative = false;
    if (p < token.size()) {
        ++p;
        if (token[p] == '+' || token[p] == '-') negative = token[p++] == '-';
        for (; p < token.size() && exponent < 100000; ++p) exponent = exponent * 10 + (token[p] - '0');
    }
    return magnitude + (negative ? -exponent : exponent) < 0;
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

Document::Document(std::string_view text, std::size_t max_depth) : text_(text), max_depth_(max_depth) {
    const std::size_t bad = utf8::invalid_at(text);
    if (bad != text.size()) throw SyntaxRefusal{"not UTF-8", bad};
    value(0);
    skip_blanks();
    if (pos_ != text_.size()) refuse("Extra data", pos_);
    if (deferred_) throw *deferred_;
}

void Document::defer(std::string reason, std::size_t offset) {
    if (!deferred_) deferred_ = SyntaxRefusal{std::move(reason), offset};
}

void Document::refuse(std::string reason, std::size_t offset) const { throw SyntaxRefusal{std::move(reason), offset}; }

void Document::skip_blanks() noexcept {
    while (pos_ < text_.size() && is_blank(text_[pos_])) ++pos_;
}

void Document::value(std::size_t depth) {
    skip_blanks();
    if (pos_ == text_.size()) refuse("Expecting value", pos_);
    const char c = text_[pos_];
    if (c == '{' || c == '[') {
        if (depth == max_depth_) refuse("nested too deeply", pos_);
        return c == '{' ? object(depth + 1) : array(depth + 1);
    }
    if (c == '"') {
        Node& n = nodes_.emplace_back();
        string(n);
    } else if (starts_number(c)) {
        Node& n = nodes_.emplace_back();
        number(n);
    } else if (c == 't') {
        literal("true", Type::yes);
    } else if (c == 'f') {
        literal("false", Type::no);
    } else if (c == 'n') {
        literal("null", Type::null);
    } else {
        refuse("Expecting value", pos_);
    }
    nodes_.back().next = nodes_.size();
}

void Document::literal(std::string_view word, Type type) {
    if (text_.substr(pos_, word.size()) != word) refuse("Expecting value", pos_);
    Node& n = nodes_.emplace_back();
    n.type = type;
    n.start = pos_;
    pos_ += word.size();
    n.end = pos_;
}

// The items of the container at node `self` up to its closing bracket `close`, read by `item`
// (given each one's position) and separated by commas; pos_ is just after the opening bracket.
template <class Item>
void Document::items(std::size_t self, bool is_object, char close, Item&& item) {
    frames_.emplace_back(is_object);
    std::size_t count = 0;
    skip_blanks();
    if (pos_ < text_.size() && text_[pos_] == close) {
        ++pos_;
    } else {
        for (;;) {
            item(count);
            ++count;
            skip_blanks();
            if (pos_ < text_.size() && text_[pos_] == close) {
                ++pos_;
                break;
            }
            if (pos_ == text_.size() || text_[pos_] != ',') refuse("Expecting ',' delimiter", pos_);
            ++pos_;
        }
    }
    frames_.pop_back();
    Node& n = nodes_[self];
    n.end = pos_;
    n.count = count;
    n.next = nodes_.size();
}

void Document::object(std::size_t depth) {
    const std::size_t self = nodes_.size();
    nodes_.emplace_back().type = Type::object;
    nodes_[self].start = pos_++;
    items(self, true, '}', [&](std::size_t) {
        skip_blanks();
        if (pos_ == text_.size() || text_[pos_] != '"') {
            refuse("Expecting property name enclosed in double quotes", pos_);
        }
        const std::size_t key_at = pos_;
        Node& key = nodes_.emplace_back();
        string(key);
        key.next = nodes_.size();
        if (!duplicate_) {
            Frame& f = frames_.back();
            f.key = decoded(key);
            if (!f.seen.insert(f.key).second) {
                duplicate_ = DuplicateKey{f.key, path_text(), key_at};
            }
        }
        skip_blanks();
        if (pos_ == text_.size() || text_[pos_] != ':') refuse("Expecting ':' delimiter", pos_);
        ++pos_;
        value(depth);
    });
}

void Document::array(std::size_t depth) {
    const std::size_t self = nodes_.size();
    const std::size_t start = pos_;
    nodes_.emplace_back().type = Type::array;
    nodes_[self].start = pos_++;
    skip_blanks();
    if (pos_ < text_.size() && starts_number(text_[pos_]) && numbers(start)) return;
    pos_ = start + 1;
    items(self, false, ']', [&](std::size_t position) {
        frames_.back().position = position;
        value(depth);
    });
}

// A list of numbers only, at `at`, as one node: its samples read on the fast road when it is
// spelt as export writes them, its numbers checked one by one otherwise. False, with nothing
// read, for any other list: it is read item by item, which also says what is wrong with it.
bool Document::numbers(std::size_t at) {
    Node& n = nodes_.back();
    const std::size_t close = text_.find(']', at);
    if (close != std::string_view::npos) {
        const std::string_view list = text_.substr(at, close + 1 - at);
        const std::size_t count = sample_list_length(list);
        if (count <= config::MAX_SAMPLES) {
            signals::Samples samples(count);
            if (read_sample_list(list, samples)) {
                samples_.push_back(std::move(samples));
                n.type = Type::numbers;
                n.count = count;
                n.samples = samples_.size();
                n.end = pos_ = close + 1;
                n.next = nodes_.size();
                return true;
            }
        }
    }
    std::size_t count = 0;
    pos_ = at + 1;
    for (;;) {
        skip_blanks();
        if (pos_ == text_.size() || !starts_number(text_[pos_])) return false;
        Node item;
        number(item);
        ++count;
        skip_blanks();
        if (pos_ < text_.size() && text_[pos_] == ']') break;
        if (pos_ == text_.size() || text_[pos_] != ',') return false;
        ++pos_;
    }
    Node& list = nodes_.back();
    list.type = Type::numbers;
    list.count = count;
    list.end = ++pos_;
    list.next = nodes_.size();
    return true;
}

void Document::string(Node& n) {
    n.type = Type::string;
    n.start = pos_;
    std::size_t p = pos_ + 1;
    for (;;) {
        // Plain bytes first, many at a time.
        while (p < text_.size()) {
            const auto c = static_cast<unsigned char>(text_[p]);
            if (c == '"' || c == '\\' || c < 0x20) break;
            ++p;
        }
        if (p == text_.size()) refuse("Unterminated string starting at", n.start);
        const char c = text_[p];
        if (c == '"') break;
        if (c != '\\') refuse("Invalid control character at", p);
        n.escaped = true;
        if (p + 1 == text_.size()) refuse("Unterminated string starting at", n.start);
        const char e = text_[p + 1];
        if (e != 'u') {
            if (std::strchr("\"\\/bfnrt", e) == nullptr || e == '\0') refuse("Invalid \\escape", p);
            p += 2;
            continue;
        }
        const long unit = hex4(text_, p + 2);
        if (unit < 0) refuse("Invalid \\uXXXX escape", p + 1);
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (high) {
            const bool paired = text_.substr(p + 6, 2) == "\\u" && hex4(text_, p + 8) >= 0xDC00 &&
                                hex4(text_, p + 8) <= 0xDFFF;
            if (!paired) defer(std::string(text_.substr(p, 6)) + " is half of a surrogate pair", p);
            p += paired ? 12 : 6;
        } else if (low) {
            defer(std::string(text_.substr(p, 6)) + " is half of a surrogate pair", p);
            p += 6;
        } else {
            p += 6;
        }
    }
    pos_ = p + 1;
    n.end = pos_;
}

void Document::number(Node& n) {
    n.start = pos_;
    std::size_t p = pos_;
    if (text_[p] == '-') ++p;
    if (p == text_.size() || !is_digit(text_[p])) refuse("Expecting value", n.start);
    if (text_[p] == '0') {
        ++p;
    } else {
        while (p < text_.size() && is_digit(text_[p])) ++p;
    }
    bool real = false;
    if (p + 1 < text_.size() && text_[p] == '.' && is_digit(text_[p + 1])) {
        real = true;
        p += 2;
        while (p < text_.size() && is_digit(text_[p])) ++p;
    }
    if (p < text_.size() && (text_[p] == 'e' || text_[p] == 'E')) {
        std::size_t q = p + 1;
        if (q < text_.size() && (text_[q] == '+' || text_[q] == '-')) ++q;
        if (q < text_.size() && is_digit(text_[q])) {
            real = true;
            p = q;
            while (p < text_.size() && is_digit(text_[p])) ++p;
        }
    }
    n.type = real ? Type::real : Type::integer;
    n.end = pos_ = p;
    // A float JSON cannot hold; one too small for a float is 0.0, as everywhere.
    if (real && std::isinf(real_value(text_.substr(n.start, n.end - n.start)))) defer("Number out of range", n.start);
}

double Document::real_value(std::string_view token) noexcept {
    double value = 0;
    const auto r = std::from_chars(token.data(), token.data() + token.size(), value);
    if (r.ec == std::errc::result_out_of_range) {
        value = underflows(token) ? 0.0 : HUGE_VAL;
        if (token[0] == '-') value = -value;
    }
    return value;
}

std::size_t Document::number_at(std::size_t p, Node& item) const {
    while (is_blank(text_[p]) || text_[p] == ',') ++p;
    item.start = p;
    bool real = false;
    while (p < text_.size() && (starts_number(text_[p]) || text_[p] == '.' || text_[p] == 'e' || text_[p] == 'E' ||
                                text_[p] == '+')) {
        real = real || !(starts_number(text_[p]));
        ++p;
    }
    item.end = p;
    item.next = 0;
    item.type = real ? Type::real : Type::integer;
    return p;
}

std::string Document::decoded(const Node& n) const {
    const std::string_view body = text_.substr(n.start + 1, n.end - n.start - 2);
    if (!n.escaped) return std::string(body);
    std::string out;
    out.reserve(body.size());
    for (std::size_t p = 0; p < body.size();) {
        if (body[p] != '\\') {
            out += body[p++];
            continue;
        }
        const char e = body[p + 1];
        if (e != 'u') {
            static constexpr std::string_view from = "\"\\/bfnrt", to = "\"\\/\b\f\n\r\t";
            out += to[from.find(e)];
            p += 2;
            continue;
        }
        char32_t cp = static_cast<char32_t>(hex4(body, p + 2));
        p += 6;
        const long low = body.substr(p, 2) == "\\u" ? hex4(body, p + 2) : -1;
        if (cp >= 0xD800 && cp <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF) {  // else refused later
            cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<char32_t>(low) - 0xDC00);
            p += 6;
        }
        append_utf8(out, cp);
    }
    return out;
}

bool Document::equals(const Node& n, std::string_view plain) const {
    if (n.escaped) return decoded(n) == plain;
    return text_.substr(n.start + 1, n.end - n.start - 2) == plain;
}

std::string Document::path_text() const {
    std::string out;
    for (std::size_t k = 0; k + 1 < frames_.size(); ++k) {
        const Frame& f = frames_[k];
        if (f.object) {
            if (!out.empty()) out += '.';
            out += f.key;
        } else {
            out.append("[").append(std::to_string(f.position)).append("]");
        }
    }
    return out;
}

std::string Document::position(std::string_view text, std::size_t offset) {
    std::size_t line = 1, column = 1;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            ++line;
            column = 1;
        } else if ((c & 0xC0) != 0x80) {
            ++column;
        }
    }
    return "(line " + std::to_string(line) + ", column " + std::to_string(column) + ")";
}

}  // namespace protocols::json
