// The AVX-512 way: 32 bytes per step, whatever varints they cut. Each byte's 16-bit lane works
// out the value of a varint ending at that byte from the byte and the two before it (read from
// the same input one and two bytes earlier), and the lanes of the bytes that do end a varint
// are packed together into the output. A step needs nothing from the step before, so steps
// overlap in the processor instead of waiting for each other.
#include <bit>
#include <cstring>

#include "encoding/sample_runs.hpp"

#if defined(__x86_64__)
#include <immintrin.h>

PYVORA_TARGET_REGION("avx2,avx512f,avx512bw,avx512vl,avx512vbmi2,popcnt")
#include "encoding/sample_blocks.hpp"

namespace encoding::runs {
namespace {

struct Avx512 {
    static constexpr unsigned width = 32;
    std::uint32_t bad = 0;
    std::uint32_t odd = 0;  // a bit for each negative sample

    inline __attribute__((always_inline)) Block block(const std::uint8_t* q, std::int16_t* out) {
        const __m256i r0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
        const __m256i r1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q - 1));
        const __m256i r2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q - 2));
        const auto m0 = static_cast<std::uint32_t>(_mm256_movepi8_mask(r0));
        const auto m1 = static_cast<std::uint32_t>(_mm256_movepi8_mask(r1));
        const auto m2 = static_cast<std::uint32_t>(_mm256_movepi8_mask(r2));
        const __m512i low7 = _mm512_set1_epi16(0x7f);
        const __m512i w0 = _mm512_and_si512(_mm512_cvtepu8_epi16(r0), low7);
        const __m512i w1 = _mm512_and_si512(_mm512_cvtepu8_epi16(r1), low7);
        const __m512i w2 = _mm512_and_si512(_mm512_cvtepu8_epi16(r2), low7);
        // A varint ending here of two bytes, and of three (its top bits beyond 16 fall away).
        const __m512i two = _mm512_or_si512(w1, _mm512_slli_epi16(w0, 7));
        const __m512i three = _mm512_or_si512(w2, _mm512_slli_epi16(two, 7));
        const std::uint32_t continued1 = m1, continued2 = m1 & m2;
        const __m512i z = _mm512_mask_mov_epi16(_mm512_mask_mov_epi16(w0, continued1, two), continued2, three);
        const std::uint32_t ends = ~m0;
        odd |= static_cast<std::uint32_t>(_mm512_mask_test_epi16_mask(ends, z, _mm512_set1_epi16(1)));
        const __m512i value = _mm512_xor_si512(_mm512_srli_epi16(z, 1),
                                               _mm512_sub_epi16(_mm512_setzero_si512(),
                                                                _mm512_and_si512(z, _mm512_set1_epi16(1))));
        // Packed in a register, then stored: packing straight to memory is slow on some processors.
        _mm512_storeu_si512(out, _mm512_maskz_compress_epi16(ends, value));
        const auto zeros = static_cast<std::uint32_t>(_mm256_cmpeq_epi8_mask(r0, _mm256_setzero_si256()));
        const auto above3 = static_cast<std::uint32_t>(_mm256_cmpgt_epu8_mask(r0, _mm256_set1_epi8(3)));
        bad |= static_cast<std::uint32_t>(malformed(continued1, continued2, zeros, above3));
        return {m0, static_cast<unsigned>(std::popcount(ends))};
    }

    std::uint32_t odd_bit() const { return odd != 0 ? 1u : 0u; }
};

}  // namespace

std::size_t avx512(const std::uint8_t*& cursor, const std::uint8_t* end, std::int16_t* out, std::size_t n,
                   Findings& found) noexcept {
    return read_blocks<Avx512>(cursor, end, out, n, found);
}

}  // namespace encoding::runs
PYVORA_END_TARGET_REGION
#else
namespace encoding::runs {
std::size_t avx512(const std::uint8_t*&, const std::uint8_t*, std::int16_t*, std::size_t, Findings&) noexcept {
    return 0;
}
}  // namespace encoding::runs
#endif
