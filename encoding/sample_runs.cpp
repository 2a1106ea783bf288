#include "encoding/sample_runs.hpp"

#include <atomic>

#include "encoding/decoder.hpp"

namespace encoding {
namespace {

SampleDecoding fastest_here() noexcept {
    for (auto way = all_sample_decodings.rbegin(); way != all_sample_decodings.rend(); ++way) {
        if (runs_here(*way)) return *way;
    }
    return SampleDecoding::scalar;
}

std::atomic<SampleDecoding>& chosen() noexcept {
    static std::atomic<SampleDecoding> way{fastest_here()};
    return way;
}

}  // namespace

std::string_view name_of(SampleDecoding way) noexcept {
    switch (way) {
        case SampleDecoding::scalar: return "scalar";
        case SampleDecoding::ssse3: return "ssse3";
        case SampleDecoding::avx2: return "avx2";
        case SampleDecoding::avx512: return "avx512";
    }
    return "?";
}

bool runs_here(SampleDecoding way) noexcept {
#if defined(__x86_64__)
    switch (way) {
        case SampleDecoding::scalar: return true;
        case SampleDecoding::ssse3:
            return __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt");
        case SampleDecoding::avx2:
            return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
        case SampleDecoding::avx512:
            return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f") &&
                   __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
                   __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("popcnt");
    }
    return false;
#else
    return way == SampleDecoding::scalar;
#endif
}

SampleDecoding sample_decoding() noexcept { return chosen().load(std::memory_order_relaxed); }

bool use_sample_decoding(SampleDecoding way) noexcept {
    if (!runs_here(way)) return false;
    chosen().store(way, std::memory_order_relaxed);
    return true;
}

namespace runs {

// Branch-free, one sample per step, while 3 bytes are left.
std::size_t scalar(const std::uint8_t*& cursor, const std::uint8_t* end, std::int16_t* out,
                   std::size_t n, Findings& found) noexcept {
    // Local copies: the compiler need not then store them back after every sample.
    const std::uint8_t* p = cursor;
    std::uint32_t bad_bits = 0, odd_bits = 0;
    std::size_t k = 0;
    for (; k < n && end - p >= 3; ++k) {
        __builtin_prefetch(p + prefetch_distance);
        const std::uint32_t b0 = p[0], b1 = p[1], b2 = p[2];
        const std::uint32_t c0 = b0 >> 7;
        const std::uint32_t c1 = c0 & (b1 >> 7);
        const std::uint32_t z = (b0 & 0x7f) | (((b1 & 0x7f) << 7) & (0u - c0)) | ((b2 << 14) & (0u - c1));
        // A third byte above 3 overflows 16 bits; a final byte of 0 after a continuation is
        // not the shortest form.
        bad_bits |= (c1 & static_cast<std::uint32_t>(b2 > 3)) |
                    (c0 & (c1 ^ 1) & static_cast<std::uint32_t>(b1 == 0)) |
                    (c1 & static_cast<std::uint32_t>(b2 == 0));
        odd_bits |= z;
        out[k] = Decoder::unzigzag(z);
        p += 1 + c0 + c1;
    }
    cursor = p;
    found.bad |= bad_bits;
    found.odd |= odd_bits & 1;
    return k;
}

std::size_t fast(const std::uint8_t*& cursor, const std::uint8_t* end, std::int16_t* out, std::size_t n,
                 Findings& found) {
    std::size_t done = 0;
    switch (sample_decoding()) {
        case SampleDecoding::scalar: break;
        case SampleDecoding::ssse3: done = ssse3(cursor, end, out, n, found); break;
        case SampleDecoding::avx2: done = avx2(cursor, end, out, n, found); break;
        case SampleDecoding::avx512: done = avx512(cursor, end, out, n, found); break;
    }
    return done + scalar(cursor, end, out + done, n - done, found);
}

}  // namespace runs
}  // namespace encoding
