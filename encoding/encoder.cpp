#include "encoding/encoder.hpp"

#include <algorithm>
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
    reserve(values.size() * max_zigzag_i16_bytes);
    // A local cursor: writes through the buffer pointer cannot then force reloads of the
    // encoder's own fields on every sample.
    std::uint8_t* const start = data_.get();
    std::uint8_t* out = start + size_;
    for (const std::int16_t v : values) {
        const std::uint32_t z = zigzag(v);
        if (z < 0x80) {
            *out++ = static_cast<std::uint8_t>(z);
        } else if (z < 0x4000) {
            out[0] = static_cast<std::uint8_t>(z | 0x80);
            out[1] = static_cast<std::uint8_t>(z >> 7);
            out += 2;
        } else {
            out[0] = static_cast<std::uint8_t>(z | 0x80);
            out[1] = static_cast<std::uint8_t>((z >> 7) | 0x80);
            out[2] = static_cast<std::uint8_t>(z >> 14);
            out += 3;
        }
    }
    size_ = static_cast<std::size_t>(out - start);
}

}  // namespace encoding
