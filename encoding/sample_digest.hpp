// The digest of a sample list that `pyvora show` prints beside its count and range: the CRC-32
// that zlib, PNG and gzip use (zlib.crc32 in Python), of the samples as 16-bit little-endian
// integers, the bytes a file stores them as. A CRC-32 changes for any change of up to 32
// neighbouring bits, so a single changed sample always changes it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace encoding {

struct SampleSummary {
    std::int16_t low = 0, high = 0;  // of a non-empty list
    std::uint32_t crc32 = 0;
};

namespace detail {
// Eight tables, so that four samples (eight bytes) take one step ("slicing by 8").
inline constexpr std::array<std::array<std::uint32_t, 256>, 8> crc_tables = [] {
    std::array<std::array<std::uint32_t, 256>, 8> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][i] = c;
    }
    for (std::size_t k = 1; k < 8; ++k)
        for (std::uint32_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    return t;
}();

// Two samples as the four bytes a file holds, read as a little-endian word.
constexpr std::uint32_t word(std::int16_t first, std::int16_t second) noexcept {
    return static_cast<std::uint16_t>(first) | static_cast<std::uint32_t>(static_cast<std::uint16_t>(second)) << 16;
}
}  // namespace detail

// Minimum, maximum and CRC-32 in one pass over the samples.
inline SampleSummary summarise(std::span<const std::int16_t> samples) noexcept {
    const auto& t = detail::crc_tables;
    SampleSummary out;
    if (samples.empty()) return out;
    std::int16_t low = samples[0], high = samples[0];
    std::uint32_t crc = 0xFFFFFFFFu;
    std::size_t i = 0;
    for (; i + 4 <= samples.size(); i += 4) {
        for (std::size_t k = i; k < i + 4; ++k) {
            low = samples[k] < low ? samples[k] : low;
            high = samples[k] > high ? samples[k] : high;
        }
        const std::uint32_t a = crc ^ detail::word(samples[i], samples[i + 1]);
        const std::uint32_t b = detail::word(samples[i + 2], samples[i + 3]);
        crc = t[7][a & 0xFF] ^ t[6][(a >> 8) & 0xFF] ^ t[5][(a >> 16) & 0xFF] ^ t[4][a >> 24] ^
              t[3][b & 0xFF] ^ t[2][(b >> 8) & 0xFF] ^ t[1][(b >> 16) & 0xFF] ^ t[0][b >> 24];
    }
    for (; i < samples.size(); ++i) {
        low = samples[i] < low ? samples[i] : low;
        high = samples[i] > high ? samples[i] : high;
        crc ^= static_cast<std::uint16_t>(samples[i]);  // the low byte first, as the file has it
        crc = (crc >> 16) ^ t[1][crc & 0xFF] ^ t[0][(crc >> 8) & 0xFF];
    }
    out.low = low;
    out.high = high;
    out.crc32 = ~crc;
    return out;
}

}  // namespace encoding
