#include "protocols/text/float_text.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace protocols::text {

namespace {

// Shortest round-trip digits of a finite positive value: value = 0.d1d2...dn * 10^(exp + 1).
struct Digits {
    char d[24];
    int n;
    int exp;
};

// Parses the scientific form "d[.ddd]e[+-]xx" written by std::to_chars.
Digits parse_scientific(const char* first, const char* last) {
    Digits out{};
    const char* e = static_cast<const char*>(std::memchr(first, 'e', last - first));
    for (const char* p = first; p < e; ++p)
        if (*p != '.') out.d[out.n++] = *p;
    const char* x = e + 1;
    if (*x == '+') ++x;
    std::from_chars(x, last, out.exp);
    return out;
}

// True when a lies exactly halfway between digits and the next larger string of the same
// length, i.e. its exact decimal expansion is the digits followed by a single 5.
bool is_exact_tie(double a, const Digits& g) {
    // Cheap screen: four more significant digits must read "5000" at the same exponent.
    char buf[48];
    auto r = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific, g.n + 3);
    Digits more = parse_scientific(buf, r.ptr);
    if (more.exp != g.exp || more.n != g.n + 4 || std::memcmp(more.d, g.d, g.n) != 0 ||
        std::memcmp(more.d + g.n, "5000", 4) != 0)
        return false;
    // A double's exact expansion has at most 767 significant digits.
    // Past the screened digits ("d." plus n + 3 more) everything must be zero.
    char full[800];
    r = std::to_chars(full, full + sizeof full, a, std::chars_format::scientific, 766);
    const char* e = static_cast<const char*>(std::memchr(full, 'e', r.ptr - full));
    for (const char* p = full + 2 + (g.n + 3); p < e; ++p)
        if (*p != '0') return false;
    return true;
}

Digits shortest_digits(double a) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific);
    Digits g = parse_scientific(buf, r.ptr);
    // std::to_chars breaks an exact tie towards the even digit; this form takes the larger one.
    // That never carries: in a tie the larger string is as close to a as the digits, so it reads
    // back as a too, and had the digits ended in 9 it would end in 0, a shorter form that reads
    // back, which to_chars would have given instead. So the last digit is below 9.
    if (a != 0.0 && is_exact_tie(a, g)) ++g.d[g.n - 1];
    return g;
}

char* put(char* out, const char* s, std::size_t n) {
    std::memcpy(out, s, n);
    return out + n;
}

char* put_zeros(char* out, int n) {
    if (n <= 0) return out;
    std::memset(out, '0', n);
    return out + n;
}

// The digits of a finite positive value at out: scientific when its exponent is below
// `lowest` or above `highest`, plain otherwise.
char* put_digits(char* out, const Digits& g, int lowest, int highest) noexcept {
    if (g.exp > highest || g.exp < lowest) {
        *out++ = g.d[0];
        if (g.n > 1) {
            *out++ = '.';
            out = put(out, g.d + 1, g.n - 1);
        }
        *out++ = 'e';
        return std::to_chars(out, out + 8, g.exp).ptr;
    }
    if (g.exp < 0) {  // 0.000ddd
        out = put(out, "0.", 2);
        out = put_zeros(out, -g.exp - 1);
        return put(out, g.d, g.n);
    }
    const int int_digits = g.exp + 1;
    if (g.n <= int_digits) {  // integral: ddd000.0
        out = put(out, g.d, g.n);
        out = put_zeros(out, int_digits - g.n);
        return put(out, ".0", 2);
    }
    out = put(out, g.d, int_digits);
    *out++ = '.';
    return put(out, g.d + int_digits, g.n - int_digits);
}

}  // namespace

char* format_float(char* out, double x) noexcept {
    if (std::isnan(x)) return put(out, "NaN", 3);
    if (std::signbit(x)) *out++ = '-';
    const double a = std::fabs(x);
    if (std::isinf(a)) return put(out, "inf", 3);
    // Plain from 0.0001 (exponent -4) up and below 1e16 (exponent 15).
    return put_digits(out, shortest_digits(a), -4, 15);
}

char* format_json_float(char* out, double x) noexcept {
    if (std::signbit(x)) *out++ = '-';
    const double a = std::fabs(x);
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific);
    return put_digits(out, parse_scientific(buf, r.ptr), -5, 15);
}

std::string float_text(double x) {
    char buf[max_float_text];
    return {buf, static_cast<std::size_t>(format_float(buf, x) - buf)};
}

}  // namespace protocols::text
