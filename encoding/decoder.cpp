#include "encoding/decoder.hpp"

#include <algorithm>
#include <bit>
#include <memory>
#include <cstdio>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace encoding {

void Decoder::fail(std::string what, std::size_t at, std::size_t element) {
    throw DecodeProblem{std::move(what), at, element};
}

const std::uint8_t* Decoder::take_raw(std::size_t n) {
    if (remaining() < n) {
        fail("truncated: " + std::to_string(remaining()) + " of " + std::to_string(n) + " bytes",
             offset());
    }
    const std::uint8_t* at = p_;
    p_ += n;
    return at;
}

bool Decoder::take_bool() {
    const std::size_t at = offset();
    const std::uint8_t b = *take_raw(1);
    if (b > 1) {
        char text[32];
        std::snprintf(text, sizeof text, "invalid bool byte 0x%02x", b);
        fail(text, at);
    }
    return b == 1;
}

std::uint64_t Decoder::take_varint_within(unsigned max_bytes, std::uint8_t last_max,
                                          const char* overflow, std::size_t element) {
    const std::size_t start = offset();
    std::uint64_t value = 0;
    for (unsigned k = 0;; ++k) {
        if (p_ == end_) {
            fail(k == 0 ? std::string("truncated: 0 of 1 bytes")
                        : "truncated: varint cut off after " + std::to_string(k) + " bytes",
                 start, element);
        }
        const std::uint8_t b = *p_++;
        // The last byte the type allows holds only its top bits, and no continuation.
        if (k + 1 == max_bytes && b > last_max) fail(overflow, start, element);
        value |= static_cast<std::uint64_t>(b & 0x7f) << (7 * k);
        if ((b & 0x80) == 0) {
            if (k > 0 && b == 0) fail("varint not in shortest form", start, element);
            return value;
        }
    }
}

std::uint64_t Decoder::take_varint() {
    // The tenth byte holds the 64th bit alone.
    return take_varint_within(10, 1, "varint overflows u64");
}

std::uint64_t Decoder::take_count(std::size_t min_element_size) {
    const std::size_t start = offset();
    const std::uint64_t count = take_varint();
    if (count > remaining() / std::max<std::size_t>(min_element_size, 1)) {
        fail("count " + std::to_string(count) + " exceeds what the " + std::to_string(remaining()) +
                 " bytes left can hold",
             start);
    }
    return count;
}

std::int16_t Decoder::take_zigzag_i16(std::size_t element) {
    // Sixteen bits fit in two full bytes and two bits of a third.
    return unzigzag(static_cast<std::uint32_t>(take_varint_within(3, 3, "varint overflows i16", element)));
}

namespace {

// Each step's next read depends on where the last varint ended, so a load that misses the
// first-level cache stalls the whole loop; asking for the bytes 2 KiB ahead keeps them there
// (it halves the time of a long run). A prefetch past the end of the data is harmless.
constexpr std::ptrdiff_t prefetch_distance = 2048;

// Decodes zigzag varints of 1 to 3 bytes branch-free while out has room and 3 bytes are left.
// Malformed forms set bits in bad; a negative value sets bit 0 of odd.
std::size_t scalar_run(const std::uint8_t*& cursor, const std::uint8_t* end, std::int16_t* out,
                       std::size_t n, std::uint32_t& bad, std::uint32_t& odd) noexcept {
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
    bad |= bad_bits;
    odd |= odd_bits & 1;
    return k;
}

#if defined(__x86_64__)
#define PYVORA_SIMD_SAMPLES 1

// How a 12-byte window of varints is read, by the continuation bits of its bytes: `low` and
// `high` are byte shuffles that spread the first complete varints (eight at most) over eight
// 16-bit lanes, `low` putting a varint's first byte in its lane's low byte and its second
// byte in the high byte, `high` putting its third byte in the low byte (absent bytes read as
// zero); `count` varints are taken, `used` bytes long.
struct alignas(16) Spread {
    std::uint8_t low[16];
    std::uint8_t high[16];
};
struct Step {
    std::uint8_t count;
    std::uint8_t used;
};
struct WindowTables {
    std::unique_ptr<Spread[]> spreads = std::make_unique<Spread[]>(1u << 12);
    std::unique_ptr<Step[]> steps = std::make_unique<Step[]>(1u << 12);
};

const WindowTables& window_tables() {
    static const WindowTables tables = [] {
        WindowTables t;
        for (unsigned mask = 0; mask < (1u << 12); ++mask) {
            Spread& e = t.spreads[mask];
            std::memset(&e, 0x80, sizeof e);
            unsigned start = 0, lane = 0;
            for (unsigned pos = 0; pos < 12 && lane < 8; ++pos) {
                if ((mask >> pos) & 1) continue;  // a continuation byte
                const unsigned length = pos - start + 1;
                // Longer forms are malformed; the overflow check catches them, lanes stay zero.
                if (length <= 3) {
                    e.low[2 * lane] = static_cast<std::uint8_t>(start);
                    if (length >= 2) e.low[2 * lane + 1] = static_cast<std::uint8_t>(start + 1);
                    if (length == 3) e.high[2 * lane] = static_cast<std::uint8_t>(start + 2);
                }
                ++lane;
                start = pos + 1;
            }
            t.steps[mask] = Step{static_cast<std::uint8_t>(lane), static_cast<std::uint8_t>(start)};
        }
        return t;
    }();
    return tables;
}

// One stream of varints being read: where it is, where its samples go, how many are wanted.
struct Stream {
    const std::uint8_t* p;
    std::int16_t* out;
    std::size_t wanted;
};

// Up to eight samples from 16 bytes: the continuation bits say where the varints end, and the
// tables line their bytes up in lanes. Malformed forms set bits in bad; odd values (negative
// samples) set bits in odd's lanes.
struct Shuffler {
    const Spread* spreads = window_tables().spreads.get();
    const Step* steps = window_tables().steps.get();
    std::uint32_t bad = 0;
    __m128i odd;

    __attribute__((target("ssse3"))) Shuffler() : odd(_mm_setzero_si128()) {}

    // Reads one window of s; false when no varint ends in it (malformed: left to the careful path).
    __attribute__((target("ssse3"), always_inline)) inline bool step(Stream& s) {
        const __m128i zero = _mm_setzero_si128();
        _mm_prefetch(reinterpret_cast<const char*>(s.p) + prefetch_distance, _MM_HINT_T0);
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.p));
        const unsigned cont = static_cast<unsigned>(_mm_movemask_epi8(v));
        const Step st = steps[cont & 0xfff];
        if (st.count == 0) return false;
        const Spread& e = spreads[cont & 0xfff];
        const __m128i a = _mm_shuffle_epi8(v, _mm_load_si128(reinterpret_cast<const __m128i*>(e.low)));
        const __m128i b = _mm_shuffle_epi8(v, _mm_load_si128(reinterpret_cast<const __m128i*>(e.high)));
        const __m128i z = _mm_or_si128(
            _mm_or_si128(_mm_and_si128(a, _mm_set1_epi16(0x007f)),
                         _mm_srli_epi16(_mm_and_si128(a, _mm_set1_epi16(0x7f00)), 1)),
            _mm_slli_epi16(b, 14));
        odd = _mm_or_si128(odd, z);
        const __m128i value =
            _mm_xor_si128(_mm_srli_epi16(z, 1), _mm_sub_epi16(zero, _mm_and_si128(z, _mm_set1_epi16(1))));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(s.out), value);
        // Over the bytes used: a zero byte ending a varint of two or three bytes is not the
        // shortest form; a third byte above 3 overflows 16 bits.
        const unsigned zeros = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)));
        const unsigned small = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_subs_epu8(v, _mm_set1_epi8(3)), zero)));
        bad |= ((zeros & ~cont & (cont << 1)) | (~small & (cont << 1) & (cont << 2))) & ((1u << st.used) - 1);
        s.p += st.used;
        s.out += st.count;
        s.wanted -= st.count;
        return true;
    }

    static bool room(const Stream& s, const std::uint8_t* end) { return s.wanted >= 8 && end - s.p >= 16; }

    __attribute__((target("ssse3"))) std::uint32_t odd_bit() const {
        return _mm_movemask_epi8(_mm_slli_epi16(odd, 15)) != 0 ? 1u : 0u;
    }
};

// Reads s while 8 samples are wanted and 16 bytes can be read. The loops work on local copies,
// which stay in registers: through the references, every step would store and reload them.
__attribute__((target("ssse3"))) void simd_run(Shuffler& sh, Stream& s, const std::uint8_t* end) {
    Shuffler local = sh;
    Stream one = s;
    while (Shuffler::room(one, end) && local.step(one)) {
    }
    sh = local;
    s = one;
}

// Two streams, a step of each in turn: each step's read waits for the one before it in the
// same stream, so a second, independent stream keeps the processor busy meanwhile.
__attribute__((target("ssse3"))) void simd_pair(Shuffler& sh, Stream& a, Stream& b, const std::uint8_t* end) {
    Shuffler local = sh;
    Stream first = a;
    Stream second = b;
    while (Shuffler::room(first, end) && Shuffler::room(second, end) && local.step(first) && local.step(second)) {
    }
    sh = local;
    a = first;
    b = second;
    simd_run(sh, a, end);
    simd_run(sh, b, end);
}

// Where the varint after the first `count` ones starts: the byte after the count-th byte
// without a continuation bit. Null when the bytes end first.
__attribute__((target("ssse3,popcnt"))) const std::uint8_t* skip_varints(const std::uint8_t* p,
                                                                         const std::uint8_t* end,
                                                                         std::size_t count) {
    while (end - p >= 16) {
        _mm_prefetch(reinterpret_cast<const char*>(p) + prefetch_distance, _MM_HINT_T0);
        unsigned ends = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)))) & 0xffff;
        const auto here = static_cast<std::size_t>(std::popcount(ends));
        if (here >= count) {
            while (--count > 0) ends &= ends - 1;  // drop the ends before the one wanted
            return p + std::countr_zero(ends) + 1;
        }
        count -= here;
        p += 16;
    }
    return nullptr;
}

bool simd_available() noexcept {
    static const bool available = __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt");
    return available;
}
#endif

// Reads as many of the n samples as the fast paths can, and returns how many. Long runs are
// read as two halves at once: a count of varint ends finds where the second half starts.
std::size_t fast_run(const std::uint8_t*& p, const std::uint8_t* end, std::int16_t* out, std::size_t n,
                     std::uint32_t& bad, std::uint32_t& odd) {
    std::size_t done = 0;
#ifdef PYVORA_SIMD_SAMPLES
    if (simd_available()) {
        Shuffler sh;
        constexpr std::size_t split_from = 4096;  // below this, finding the middle costs more than it saves
        const std::uint8_t* middle = n >= split_from ? skip_varints(p, end, n / 2) : nullptr;
        if (middle != nullptr) {
            Stream a{p, out, n / 2};
            Stream b{middle, out + n / 2, n - n / 2};
            simd_pair(sh, a, b, end);
            a.out += scalar_run(a.p, end, a.out, a.wanted, sh.bad, odd);
            // The first half must end exactly where the second begins; if not, the bytes are
            // malformed and the careful path says where.
            if (a.p != middle || a.out != out + n / 2) sh.bad |= 1;
            p = b.p;
            done = static_cast<std::size_t>(b.out - out);
        } else {
            Stream s{p, out, n};
            simd_run(sh, s, end);
            p = s.p;
            done = static_cast<std::size_t>(s.out - out);
        }
        bad |= sh.bad;
        odd |= sh.odd_bit();
    }
#endif
    return done + scalar_run(p, end, out + done, n - done, bad, odd);
}

}  // namespace

bool Decoder::take_zigzag_i16s(std::int16_t* out, std::size_t n) {
    std::uint32_t bad = 0;
    std::uint32_t odd = 0;  // bit 0 set when a zigzag value was odd: its sample is negative
    const std::uint8_t* p = p_;
    const std::size_t done = fast_run(p, end_, out, n, bad, odd);
    std::size_t i = done;
    if (bad != 0) {
        // Malformed somewhere: read everything again sample by sample, which stops at the
        // first problem.
        i = 0;
        odd = 0;
    } else {
        p_ = p;
    }
    for (; i < n; ++i) {  // also the last few samples, when too few bytes are left for the fast paths
        out[i] = take_zigzag_i16(i);
        odd |= static_cast<std::uint16_t>(out[i]) >> 15;
    }
    return (odd & 1) != 0;
}

}  // namespace encoding
