#include "encoding/encoder.hpp"

#include <algorithm>
#include <cstring>
#include <cstdlib>
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
    for (const std::int16_t v : values) {
        // Branch-free: samples of real signals mix two- and three-byte forms at random, which
        // defeats branch prediction. All three bytes are built and stored, and the cursor
        // advances by the varint's true length; the surplus bytes are overwritten next.
        const std::uint32_t z = zigzag(v);
        const std::uint32_t two = z >= 0x80;
        const std::uint32_t three = z >= 0x4000;
        const std::uint32_t word = ((z & 0x7F) | (two << 7)) | ((((z >> 7) & 0x7F) | (three << 7)) << 8) |
                                   ((z >> 14) << 16);
        const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8),
                                       static_cast<std::uint8_t>(word >> 16), 0};
        std::memcpy(out, bytes, 4);
        out += 1 + two + three;
    }
    size_ = static_cast<std::size_t>(out - start);
}

}  // namespace encoding
