#include "protocols/json/sample_list.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "protocols/config.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace protocols::json {
namespace {

constexpr std::uint64_t bytes_of(std::uint8_t b) { return 0x0101010101010101ULL * b; }

// Two bit masks over 64 bytes of text, bit i for byte i. Of the samples: the commas, and the
// bytes that are neither a comma nor a digit. Of the line breaks: the line feeds, and the
// blanks (line feeds and spaces). Each is its own instantiation, so that a block of plain
// samples is never asked about line breaks.
enum class Marks { samples, breaks };
struct Masks {
    std::uint64_t first = 0;
    std::uint64_t second = 0;
};

template <Marks marks>
Masks classify(const char* p) noexcept {
    Masks m;
#if defined(__SSE2__)
    for (int k = 0; k < 4; ++k) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
        __m128i first, second;
        if constexpr (marks == Marks::samples) {
            first = _mm_cmpeq_epi8(v, _mm_set1_epi8(','));
            const __m128i d = _mm_sub_epi8(v, _mm_set1_epi8('0'));
            const __m128i is_digit = _mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(9)), d);
            second = _mm_or_si128(first, is_digit);  // the known bytes, inverted below
        } else {
            first = _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'));
            second = _mm_or_si128(first, _mm_cmpeq_epi8(v, _mm_set1_epi8(' ')));
        }
        m.first |= static_cast<std::uint64_t>(_mm_movemask_epi8(first)) << (16 * k);
        m.second |= static_cast<std::uint64_t>(_mm_movemask_epi8(second)) << (16 * k);
    }
#else
    for (int i = 0; i < 64; ++i) {
        const auto c = static_cast<unsigned char>(p[i]);
        const bool first = marks == Marks::samples ? c == ',' : c == '\n';
        const bool second = marks == Marks::samples ? c == ',' || static_cast<unsigned>(c - '0') <= 9 : c == '\n' || c == ' ';
        m.first |= static_cast<std::uint64_t>(first) << i;
        m.second |= static_cast<std::uint64_t>(second) << i;
    }
#endif
    if constexpr (marks == Marks::samples) m.second = ~m.second;
    return m;
}

bool is_blank(char c) noexcept { return c == '\n' || c == ' '; }
bool opens_sample(char c) noexcept { return c == ',' || c == '['; }

// The first byte after `last`, the highest bit of a nonzero mask of a block's bytes.
const char* after_highest(const char* block, std::uint64_t last) noexcept {
    return block + 64 - std::countl_zero(last);
}

// The sample whose digits run from start to the comma at `comma`, where start + 8 bytes are
// readable and no byte before the comma is a comma. Sets bits of bad unless it is 1 to 5
// digits without a leading zero and at most 32767; with no branch on the digits, so that the
// samples are read side by side.
std::int16_t sample_before(const char* start, const char* comma, std::uint64_t& bad) noexcept {
    const auto length = static_cast<std::size_t>(comma - start);
    bad |= static_cast<std::uint64_t>(length - 1 > 4);  // none, or more than five
    const std::size_t digits = std::clamp<std::size_t>(length, 1, 5);
    std::uint64_t x;
    std::memcpy(&x, start, sizeof x);  // the first digit in the lowest byte
    bad |= static_cast<std::uint64_t>(length > 1 && (x & 0xFF) == '0');  // a leading zero
    // Only the digits stay, moved to the top with zeros before them; a borrow from a byte after
    // them only moves upwards, and is shifted out with it. Then pairs, fours, eights combine.
    std::uint64_t v = (x - bytes_of('0')) << (8 * (8 - digits));
    v = (v * (10 * 256 + 1)) >> 8;
    v = ((v & 0x00FF00FF00FF00FFULL) * (100 * 65536 + 1)) >> 16;
    v = ((v & 0x0000FFFF0000FFFFULL) * (10000ULL * (1ULL << 32) + 1)) >> 32;
    const auto value = static_cast<std::uint32_t>(v);
    bad |= static_cast<std::uint64_t>(value > config::MAX_SAMPLE);
    return static_cast<std::int16_t>(value);
}

}  // namespace

std::size_t sample_list_length(std::string_view text) noexcept {
    std::size_t commas = 0;
    const char* p = text.data();
    const char* const end = text.data() + text.size();
    for (; end - p >= 64; p += 64) commas += static_cast<std::size_t>(std::popcount(classify<Marks::samples>(p).first));
    return commas + static_cast<std::size_t>(std::count(p, end, ',')) + 1;
}

bool read_sample_list(std::string_view text, std::span<std::int16_t> out) noexcept {
    if (text.size() < 3 || text.front() != '[' || text.back() != ']') return false;
    const char* const first = text.data() + 1;
    // The last sample ends at the closing bracket, or at the line break before it.
    const char* end = text.data() + text.size() - 1;
    const char* last = end;
    while (last != first && last[-1] == ' ') --last;
    if (last != first && last[-1] == '\n') end = last - 1;
    const char* start = first;  // of the sample being read
    std::size_t n = 0;
    std::uint64_t bad = 0;
    const auto take = [&](const char* comma) {
        if (n == out.size()) return false;
        out[n++] = sample_before(start, comma, bad);
        start = comma + 1;
        return true;
    };
    // Whole blocks, while 8 bytes past each of their commas are still in the text.
    for (const char* block = start; end - block >= 64 + 8 && bad == 0; block += 64) {
        auto [commas, others] = classify<Marks::samples>(block);
        if (others == 0) {
            for (; commas != 0; commas &= commas - 1) {
                if (!take(block + std::countr_zero(commas))) return false;
            }
            continue;
        }
        // A line break is a line feed and the spaces after it, right after the "[" or a comma;
        // the sample begins after it (the block before may have held the break's start).
        const auto [feeds, blanks] = classify<Marks::breaks>(block);
        const std::uint64_t starts = blanks & ~((blanks << 1) | is_blank(block[-1]));
        bad |= (others & ~blanks) | (starts ^ feeds) | (starts & ~((commas << 1) | opens_sample(block[-1])));
        for (; commas != 0; commas &= commas - 1) {
            const std::uint64_t before = blanks & ((commas & (~commas + 1)) - 1);
            if (before != 0) start = std::max(start, after_highest(block, before));
            if (!take(block + std::countr_zero(commas))) return false;
        }
        if (blanks != 0) start = std::max(start, after_highest(block, blanks));
    }
    if (bad != 0) return false;
    // The rest, byte by byte. Six digits are already too many: the largest sample has five.
    const char* p = start;
    for (;;) {
        if (p != end && *p == '\n' && opens_sample(p[-1])) ++p;
        if (is_blank(p[-1])) {
            while (p != end && *p == ' ') ++p;
        }
        start = p;
        std::uint32_t value = 0;
        while (p != end && p - start < 6 && static_cast<unsigned char>(*p - '0') <= 9) {
            value = value * 10 + static_cast<std::uint32_t>(*p - '0');
            ++p;
        }
        const auto digits = p - start;
        if (digits == 0 || digits == 6 || (digits > 1 && *start == '0') || value > config::MAX_SAMPLE || n == out.size()) {
            return false;
        }
        out[n++] = static_cast<std::int16_t>(value);
        if (p == end) return n == out.size();
        if (*p != ',') return false;
        ++p;
    }
}

}  // namespace protocols::json
