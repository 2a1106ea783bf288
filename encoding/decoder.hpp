// The decoder of the compact binary format: the exact inverse of the encoder, over bytes that
// may come from anywhere. Every read is bounds-checked, varints must be in their shortest form
// and fit their type, and a count is checked against the bytes left before anything is
// allocated for it. A problem is thrown as DecodeProblem at the offset where it was found.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <string>
#include <string_view>

namespace encoding {

// What is wrong ("truncated: 3 of 8 bytes") and the byte offset where it was found. For a
// problem inside a run of samples, `element` is the sample's position in the run.
struct DecodeProblem {
    static constexpr std::size_t no_element = std::numeric_limits<std::size_t>::max();

    std::string what;
    std::size_t offset;
    std::size_t element = no_element;
};

class Decoder {
public:
    explicit Decoder(std::span<const std::uint8_t> bytes) noexcept
        : begin_(bytes.data()), p_(bytes.data()), end_(bytes.data() + bytes.size()) {}

    std::size_t offset() const noexcept { return static_cast<std::size_t>(p_ - begin_); }
    std::size_t remaining() const noexcept { return static_cast<std::size_t>(end_ - p_); }

    // 00 or 01; any other byte is refused.
    bool take_bool();

    // A shortest-form varint that fits in 64 bits.
    std::uint64_t take_varint();

    // Eight bytes, least significant first, bit for bit.
    double take_f64() {
        const std::uint8_t* bytes = take_raw(8);
        std::uint64_t bits = 0;
        std::memcpy(&bits, bytes, 8);
        if constexpr (std::endian::native == std::endian::big) bits = swap_bytes(bits);
        return std::bit_cast<double>(bits);
    }

    // An element count (sequence length, text length), refused when the bytes left cannot hold
    // that many elements of at least min_element_size bytes each.
    std::uint64_t take_count(std::size_t min_element_size);

    // The next n bytes as they are.
    std::string_view take_bytes(std::size_t n) {
        return {reinterpret_cast<const char*>(take_raw(n)), n};
    }

    // n zigzag varints of signed 16-bit values into out, written once each. Returns true when
    // any value is negative, so a caller that allows only non-negative values needs no pass of
    // its own to know. Encoding problems are thrown with the failing sample's position. (The
    // run is read the fastest way the processor runs, see sample_runs.hpp; a problem found
    // there is found again, exactly, by reading sample by sample.)
    bool take_zigzag_i16s(std::int16_t* out, std::size_t n);

    // 0, 1, 2, 3 ... back to 0, -1, 1, -2 ...
    static constexpr std::int16_t unzigzag(std::uint32_t z) noexcept {
        return static_cast<std::int16_t>(static_cast<std::uint16_t>((z >> 1) ^ (0u - (z & 1))));
    }

private:
    static constexpr std::uint64_t swap_bytes(std::uint64_t v) noexcept {
        std::uint64_t r = 0;
        for (int i = 0; i < 8; ++i, v >>= 8) r = (r << 8) | (v & 0xff);
        return r;
    }
    const std::uint8_t* take_raw(std::size_t n);
    // A shortest-form varint of at most max_bytes bytes, the last of them at most last_max;
    // `overflow` is the problem a larger one is refused with.
    std::uint64_t take_varint_within(unsigned max_bytes, std::uint8_t last_max, const char* overflow,
                                     std::size_t element = DecodeProblem::no_element);
    // One sample, checked byte by byte: the path of the last few samples and of finding
    // exactly which sample of a run is malformed.
    std::int16_t take_zigzag_i16(std::size_t element);
    [[noreturn]] static void fail(std::string what, std::size_t at,
                                  std::size_t element = DecodeProblem::no_element);

    const std::uint8_t* begin_;
    const std::uint8_t* p_;
    const std::uint8_t* end_;
};

}  // namespace encoding
