#include "encoding/sample_runs.hpp"

#include <atomic>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

#include "encoding/decoder.hpp"

namespace encoding {
namespace {

#if defined(__x86_64__)
struct Features {
    bool ssse3 = false, popcnt = false, avx2 = false;
    bool avx512f = false, avx512bw = false, avx512vl = false, avx512vbmi2 = false;
};

bool bit(unsigned word, unsigned n) noexcept { return (word >> n) & 1; }

// The instruction sets the processor has and the operating system saves the registers of.
Features features_here() noexcept {
    Features f;
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return f;
    f.ssse3 = bit(c, 9);
    f.popcnt = bit(c, 23);
    if (!bit(c, 27) || !bit(c, 28)) return f;  // no OSXSAVE or no AVX: no wide registers
    unsigned low = 0, high = 0;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    const bool ymm = (low & 0x06) == 0x06;    // XMM and YMM state
    const bool zmm = (low & 0xe6) == 0xe6;    // and opmask, ZMM_Hi256, Hi16_ZMM state
    if (!ymm || !__get_cpuid_count(7, 0, &a, &b, &c, &d)) return f;
    f.avx2 = bit(b, 5);
    if (!zmm) return f;
    f.avx512f = bit(b, 16);
    f.avx512bw = bit(b, 30);
    f.avx512vl = bit(b, 31);
    f.avx512vbmi2 = bit(c, 6);
    return f;
}
#endif

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
    // Read from the processor itself: __builtin_cpu_supports rests on a table that the
    // compiler's runtime library fills, and some (clang's, built into a shared object by other
    // toolchains) leave it empty, which would quietly pick the scalar way everywhere.
    static const Features here = features_here();
    switch (way) {
        case SampleDecoding::scalar: return true;
        case SampleDecoding::ssse3: return here.ssse3 && here.popcnt;
        case SampleDecoding::avx2: return here.avx2 && here.popcnt;
        case SampleDecoding::avx512:
            return here.avx2 && here.avx512f && here.avx512bw && here.avx512vl && here.avx512vbmi2 &&
                   here.popcnt;
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
