// The SSSE3 way: a 12-byte window per step, its continuation bits looking up the byte shuffles
// that line its varints up in 16-bit lanes. Long runs are read as two halves at once.
#include <bit>
#include <cstring>
#include <memory>

#include "encoding/sample_runs.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace encoding::runs {

#if defined(__x86_64__)
namespace {

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

}  // namespace

// Long runs are read as two halves at once: a count of varint ends finds where the second half
// starts.
std::size_t ssse3(const std::uint8_t*& p, const std::uint8_t* end, std::int16_t* out, std::size_t n,
                  Findings& found) {
    Shuffler sh;
    constexpr std::size_t split_from = 4096;  // below this, finding the middle costs more than it saves
    const std::uint8_t* middle = n >= split_from ? skip_varints(p, end, n / 2) : nullptr;
    std::size_t done = 0;
    if (middle != nullptr) {
        Stream a{p, out, n / 2};
        Stream b{middle, out + n / 2, n - n / 2};
        simd_pair(sh, a, b, end);
        a.out += scalar(a.p, end, a.out, a.wanted, found);
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
    found.bad |= sh.bad;
    found.odd |= sh.odd_bit();
    return done;
}

#else
std::size_t ssse3(const std::uint8_t*&, const std::uint8_t*, std::int16_t*, std::size_t, Findings&) {
    return 0;
}
#endif

}  // namespace encoding::runs
