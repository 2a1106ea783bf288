// Reading long runs of zigzag varint samples (one to three bytes each) fast. There are several
// ways, one per instruction set; the fastest the processor runs is chosen when first needed.
// Every way gives the same samples, and flags a malformed form or a negative sample without
// saying where: the decoder then reads the run again carefully to find it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// A target region: the functions defined between PYVORA_TARGET_REGION("isa,...") and
// PYVORA_END_TARGET_REGION are compiled for those instructions, templates and their
// instantiations included, which a target attribute on each function cannot give a template
// shared by several ways.
#define PYVORA_PRAGMA(text) _Pragma(#text)
#if defined(__clang__)
#define PYVORA_TARGET_REGION(isa) PYVORA_PRAGMA(clang attribute push(__attribute__((target(isa))), apply_to = function))
#define PYVORA_END_TARGET_REGION _Pragma("clang attribute pop")
#else
#define PYVORA_TARGET_REGION(isa) _Pragma("GCC push_options") PYVORA_PRAGMA(GCC target(isa))
#define PYVORA_END_TARGET_REGION _Pragma("GCC pop_options")
#endif

namespace encoding {

// Slowest first. `scalar` runs anywhere; `ssse3` reads a 12-byte window per step, two
// streams at once; `avx2` and `avx512` read fixed blocks of 16 and 32 bytes, which depend on
// no varint boundary, so the blocks do not wait for each other (avx512 also needs AVX-512BW,
// VL and VBMI2).
enum class SampleDecoding : std::uint8_t { scalar, ssse3, avx2, avx512 };
inline constexpr std::array<SampleDecoding, 4> all_sample_decodings = {
    SampleDecoding::scalar, SampleDecoding::ssse3, SampleDecoding::avx2, SampleDecoding::avx512};
std::string_view name_of(SampleDecoding way) noexcept;

// Whether this processor (and its operating system) runs the way.
bool runs_here(SampleDecoding way) noexcept;

// The way in use: the fastest that runs here, unless use_sample_decoding chose another.
SampleDecoding sample_decoding() noexcept;

// Uses `way` from now on, for tests and the fuzzer to reach every way on any machine. False,
// and nothing changes, when the processor cannot run it.
bool use_sample_decoding(SampleDecoding way) noexcept;

namespace runs {

// What a fast reading found besides samples: bad is nonzero when a form was malformed, bit 0
// of odd is set when a sample was negative.
struct Findings {
    std::uint32_t bad = 0;
    std::uint32_t odd = 0;
};

// In the ways whose every step's next read depends on where the last varint ended, a load that
// misses the first-level cache stalls the whole loop; asking for the bytes 2 KiB ahead keeps
// them there (it halves the time of a long run). A prefetch past the end of the data is harmless.
inline constexpr std::ptrdiff_t prefetch_distance = 2048;

// Reads as many of the n samples as the way in use can, then as the scalar way can (it stops
// three bytes before end), and returns how many were read.
std::size_t fast(const std::uint8_t*& cursor, const std::uint8_t* end, std::int16_t* out, std::size_t n,
                 Findings& found);

// Each way reads samples into out while it can, from cursor (moved past what it read) up to end,
// at most n, and returns how many it read. The caller reads the rest; after a malformed form,
// what was read is of no use.
std::size_t scalar(const std::uint8_t*& cursor, const std::uint8_t* end, std::int16_t* out,
                   std::size_t n, Findings& found) noexcept;
std::size_t ssse3(const std::uint8_t*& cursor, const std::uint8_t* end, std::int16_t* out,
                  std::size_t n, Findings& found);
std::size_t avx2(const std::uint8_t*& cursor, const std::uint8_t* end, std::int16_t* out,
                 std::size_t n, Findings& found) noexcept;
std::size_t avx512(const std::uint8_t*& cursor, const std::uint8_t* end, std::int16_t* out,
                   std::size_t n, Findings& found) noexcept;

// The block ways, by bit masks over a block's bytes (bit i for byte i): continued1 and
// continued2 mark the bytes whose previous byte, and whose two previous bytes, have the
// continuation bit; zeros the zero bytes, above3 the bytes above 3. A zero ending a varint of
// two or three bytes is not the shortest form; a third byte above 3 overflows 16 bits (a
// continued third byte is above 3 too: varints of four bytes or more are caught with it).
constexpr std::uint64_t malformed(std::uint64_t continued1, std::uint64_t continued2, std::uint64_t zeros,
                                  std::uint64_t above3) noexcept {
    return (zeros & continued1) | (above3 & continued1 & continued2);
}

// Where the block ways stop: after the last complete varint before `at`, given the continuation
// bits of the last block (bit width-1 for the byte before `at`). A varint cut by the block's
// end has at most two bytes in it when the forms were well formed.
template <unsigned width>
const std::uint8_t* after_last_end(const std::uint8_t* at, std::uint64_t continuation) noexcept {
    const std::uint64_t top = continuation << (64 - width);
    unsigned cut = 0;
    while (cut < 2 && ((top << cut) >> 63) != 0) ++cut;
    return at - cut;
}

}  // namespace runs
}  // namespace encoding
