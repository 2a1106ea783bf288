#include "encoding/encoder.hpp"

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <memory>
#include <new>

namespace encoding {

std::string_view name_of(EncodeError e) noexcept {
    switch (e) {
        case EncodeError::SerializeBufferFull: return "SerializeBufferFull";
        case EncodeError::SerializeSeqLengthUnknown: return "SerializeSeqLengthUnknown";
    }
    return "Unknown";
}

void detail::FreeDeleter::operator()(std::uint8_t* p) const noexcept { std::free(p); }

void Encoder::grow(std::size_t extra_bytes) {
    constexpr std::size_t max = std::numeric_limits<std::size_t>::max();
    constexpr std::size_t initial_capacity = 256;
    if (extra_bytes > max - size_) throw std::bad_alloc();
    const std::size_t needed = size_ + extra_bytes;
    const std::size_t doubled = capacity_ > max / 2 ? max : capacity_ * 2;
    const std::size_t new_capacity = std::max({needed, doubled, initial_capacity});
    // realloc keeps the old block intact when it fails, so the encoder stays usable.
    void* p = std::realloc(data_.get(), new_capacity);
    if (p == nullptr) throw std::bad_alloc();
    (void)data_.release();
    data_.reset(static_cast<std::uint8_t*>(p));
    capacity_ = new_capacity;
}

void Encoder::append_zigzag_i16s(std::span<const std::int16_t> values) {
    if (values.size() > std::numeric_limits<std::size_t>::max() / max_zigzag_i16_bytes) {
        throw std::bad_alloc();
    }
    // One spare byte lets every sample be stored as one 4-byte word.
    reserve(values.size() * max_zigzag_i16_bytes + 1);
    // A local cursor: writes through the buffer pointer cannot then force reloads of the
    // encoder's own fields on every sample.
    std::uint8_t* const start = data_.get();
    std::uint8_t* out = start + size_;
    // Every 16-bit zigzag value's varint, precomputed: its up to three bytes in the low 24 bits
    // and its length in the top byte. A table lookup beats computing the bytes and is free of
    // the branches that random two- and three-byte forms would mispredict.
    static const std::unique_ptr<const std::uint32_t[]> varints = [] {
        auto table = std::make_unique<std::uint32_t[]>(1u << 16);
        for (std::uint32_t z = 0; z < (1u << 16); ++z) {
            const std::uint32_t two = z >= 0x80;
            const std::uint32_t three = z >= 0x4000;
            table[z] = ((z & 0x7F) | (two << 7)) | ((((z >> 7) & 0x7F) | (three << 7)) << 8) |
                       ((z >> 14) << 16) | ((1 + two + three) << 24);
        }
        return std::unique_ptr<const std::uint32_t[]>(std::move(table));
    }();
    const std::uint32_t* const table = varints.get();
    for (const std::int16_t v : values) {
        // The whole word is stored (the spare byte makes room); bytes past the varint's length
        // are overwritten by the next sample or lie beyond the encoding's end.
        const std::uint32_t entry = table[zigzag(v)];
        const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(entry), static_cast<std::uint8_t>(entry >> 8),
                                       static_cast<std::uint8_t>(entry >> 16), static_cast<std::uint8_t>(entry >> 24)};
        std::memcpy(out, bytes, 4);
        out += entry >> 24;
    }
    size_ = static_cast<std::size_t>(out - start);
}

}  // namespace encoding
