// The AVX2 way: the AVX-512 way's blocks at half the width, 16 bytes per step. Without a
// packing instruction, the lanes of the bytes that end a varint are packed eight lanes at a
// time by a byte shuffle looked up by their end bits.
#include <array>
#include <bit>
#include <cstring>

#include "encoding/sample_runs.hpp"

#if defined(__x86_64__)
#include <immintrin.h>

PYVORA_TARGET_REGION("avx2,popcnt")
#include "encoding/sample_blocks.hpp"

namespace encoding::runs {
namespace {

// For each set of marked lanes among eight 16-bit lanes, the byte shuffle that moves the
// marked lanes to the front in order.
struct alignas(16) Packing {
    std::uint8_t bytes[16];
};
constexpr std::array<Packing, 256> packings = [] {
    std::array<Packing, 256> table{};
    for (unsigned marked = 0; marked < 256; ++marked) {
        unsigned to = 0;
        for (unsigned lane = 0; lane < 8; ++lane) {
            if ((marked >> lane) & 1) {
                table[marked].bytes[to++] = static_cast<std::uint8_t>(2 * lane);
                table[marked].bytes[to++] = static_cast<std::uint8_t>(2 * lane + 1);
            }
        }
        while (to < 16) table[marked].bytes[to++] = 0x80;
    }
    return table;
}();

struct Avx2 {
    static constexpr unsigned width = 16;
    std::uint32_t bad = 0;
    __m256i odd{};  // a negative sample sets bit 0 of a lane

    inline __attribute__((always_inline)) Block block(const std::uint8_t* q, std::int16_t* out) {
        const __m128i r0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
        const __m128i r1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q - 1));
        const __m128i r2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q - 2));
        // Sign-extended, a byte's continuation bit fills the top of its lane.
        const __m256i x0 = _mm256_cvtepi8_epi16(r0);
        const __m256i x1 = _mm256_cvtepi8_epi16(r1);
        const __m256i x2 = _mm256_cvtepi8_epi16(r2);
        const __m256i low7 = _mm256_set1_epi16(0x7f);
        const __m256i w0 = _mm256_and_si256(x0, low7);
        const __m256i w1 = _mm256_and_si256(x1, low7);
        const __m256i w2 = _mm256_and_si256(x2, low7);
        // A varint ending here of two bytes, and of three (its top bits beyond 16 fall away).
        const __m256i two = _mm256_or_si256(w1, _mm256_slli_epi16(w0, 7));
        const __m256i three = _mm256_or_si256(w2, _mm256_slli_epi16(two, 7));
        const __m256i continued1 = _mm256_srai_epi16(x1, 15);
        const __m256i continued2 = _mm256_and_si256(continued1, _mm256_srai_epi16(x2, 15));
        const __m256i z = _mm256_blendv_epi8(_mm256_blendv_epi8(w0, two, continued1), three, continued2);
        const __m256i one = _mm256_set1_epi16(1);
        odd = _mm256_or_si256(odd, _mm256_andnot_si256(_mm256_srai_epi16(x0, 15), _mm256_and_si256(z, one)));
        const __m256i value =
            _mm256_xor_si256(_mm256_srli_epi16(z, 1), _mm256_sub_epi16(_mm256_setzero_si256(), _mm256_and_si256(z, one)));
        const auto m0 = static_cast<std::uint32_t>(_mm_movemask_epi8(r0));
        const auto m1 = static_cast<std::uint32_t>(_mm_movemask_epi8(r1));
        const auto m2 = static_cast<std::uint32_t>(_mm_movemask_epi8(r2));
        const std::uint32_t ends = ~m0 & 0xffff;
        const std::uint32_t low_ends = ends & 0xff, high_ends = ends >> 8;
        const __m128i low = _mm_shuffle_epi8(_mm256_castsi256_si128(value),
                                             _mm_load_si128(reinterpret_cast<const __m128i*>(packings[low_ends].bytes)));
        const __m128i high = _mm_shuffle_epi8(_mm256_extracti128_si256(value, 1),
                                              _mm_load_si128(reinterpret_cast<const __m128i*>(packings[high_ends].bytes)));
        const auto low_count = static_cast<unsigned>(std::popcount(low_ends));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), low);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + low_count), high);
        const __m128i zero = _mm_setzero_si128();
        const auto zeros = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(r0, zero)));
        const auto at_most3 =
            static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_subs_epu8(r0, _mm_set1_epi8(3)), zero)));
        bad |= static_cast<std::uint32_t>(malformed(m1, m1 & m2, zeros, ~at_most3 & 0xffff));
        return {m0, low_count + static_cast<unsigned>(std::popcount(high_ends))};
    }

    std::uint32_t odd_bit() const { return _mm256_testz_si256(odd, odd) ? 0u : 1u; }
};

}  // namespace

std::size_t avx2(const std::uint8_t*& cursor, const std::uint8_t* end, std::int16_t* out, std::size_t n,
                 Findings& found) noexcept {
    return read_blocks<Avx2>(cursor, end, out, n, found);
}

}  // namespace encoding::runs
PYVORA_END_TARGET_REGION
#else
namespace encoding::runs {
std::size_t avx2(const std::uint8_t*&, const std::uint8_t*, std::int16_t*, std::size_t, Findings&) noexcept {
    return 0;
}
}  // namespace encoding::runs
#endif
