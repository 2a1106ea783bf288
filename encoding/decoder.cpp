#include "encoding/decoder.hpp"

#include <algorithm>
#include <cstdio>
#include <utility>

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

std::uint64_t Decoder::take_varint() {
    const std::size_t start = offset();
    std::uint64_t value = 0;
    for (unsigned k = 0;; ++k) {
        if (p_ == end_) {
            fail(k == 0 ? std::string("truncated: 0 of 1 bytes")
                        : "truncated: varint cut off after " + std::to_string(k) + " bytes",
                 start);
        }
        const std::uint8_t b = *p_++;
        // The tenth byte holds the 64th bit alone.
        if (k == 9 && b > 1) fail("varint overflows u64", start);
        value |= static_cast<std::uint64_t>(b & 0x7f) << (7 * k);
        if ((b & 0x80) == 0) {
            if (k > 0 && b == 0) fail("varint not in shortest form", start);
            return value;
        }
    }
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
    const std::size_t start = offset();
    std::uint32_t z = 0;
    for (unsigned k = 0;; ++k) {
        if (p_ == end_) {
            fail(k == 0 ? std::string("truncated: 0 of 1 bytes")
                        : "truncated: varint cut off after " + std::to_string(k) + " bytes",
                 start, element);
        }
        const std::uint8_t b = *p_++;
        // Sixteen bits fit in two full bytes and two bits of a third.
        if (k == 2 && b > 3) fail("varint overflows i16", start, element);
        z |= static_cast<std::uint32_t>(b & 0x7f) << (7 * k);
        if ((b & 0x80) == 0) {
            if (k > 0 && b == 0) fail("varint not in shortest form", start, element);
            return static_cast<std::int16_t>(static_cast<std::uint16_t>((z >> 1) ^ (0u - (z & 1))));
        }
    }
}

bool Decoder::take_zigzag_i16s(std::int16_t* out, std::size_t n) {
    std::uint32_t odd = 0;  // a zigzag value is odd exactly when its sample is negative
    std::size_t i = 0;
    constexpr std::size_t block = 4096;
    while (i < n) {
        const std::size_t len = std::min(block, n - i);
        // Every sample of the block can then be read as one 4-byte word, in bounds.
        if (remaining() / 3 <= len) break;
        const std::uint8_t* p = p_;
        std::uint32_t bad = 0;
        for (std::size_t k = 0; k < len; ++k) {
            const std::uint32_t b0 = p[0], b1 = p[1], b2 = p[2];
            const std::uint32_t c0 = b0 >> 7;
            const std::uint32_t c1 = c0 & (b1 >> 7);
            const std::uint32_t z =
                (b0 & 0x7f) | (((b1 & 0x7f) << 7) & (0u - c0)) | ((b2 << 14) & (0u - c1));
            // A third byte above 3 overflows 16 bits; a final byte of 0 after a continuation
            // is not the shortest form.
            bad |= (c1 & static_cast<std::uint32_t>(b2 > 3)) |
                   (c0 & (c1 ^ 1) & static_cast<std::uint32_t>(b1 == 0)) |
                   (c1 & static_cast<std::uint32_t>(b2 == 0));
            odd |= z;
            out[i + k] = static_cast<std::int16_t>(static_cast<std::uint16_t>((z >> 1) ^ (0u - (z & 1))));
            p += 1 + c0 + c1;
        }
        if (bad != 0) {
            // Read the block again sample by sample: that finds the first malformed one.
            for (std::size_t k = 0; k < len; ++k) (void)take_zigzag_i16(i + k);
        }
        p_ = p;
        i += len;
    }
    for (; i < n; ++i) {
        out[i] = take_zigzag_i16(i);
        odd |= static_cast<std::uint16_t>(out[i]) >> 15;
    }
    return (odd & 1) != 0;
}

}  // namespace encoding
