#include "encoding/decoder.hpp"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "encoding/sample_runs.hpp"

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

bool Decoder::take_zigzag_i16s(std::int16_t* out, std::size_t n) {
    runs::Findings found;
    const std::uint8_t* p = p_;
    const std::size_t done = runs::fast(p, end_, out, n, found);
    std::uint32_t odd = found.odd;  // bit 0 set when a zigzag value was odd: its sample is negative
    std::size_t i = done;
    if (found.bad != 0) {
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
