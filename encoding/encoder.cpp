#include "encoding/encoder.hpp"

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <memory>
#include <new>
#include <stdexcept>

namespace encoding {

void detail::FreeDeleter::operator()(std::uint8_t* p) const noexcept {
    if (owns) std::free(p);
}

void Encoder::grow(std::size_t extra_bytes) {
    constexpr std::size_t max = std::numeric_limits<std::size_t>::max();
    constexpr std::size_t initial_capacity = 256;
    if (!data_.get_deleter().owns) throw std::length_error("encoding exceeds the room it was given");
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

namespace {

// Every 16-bit zigzag value's varint, precomputed: its up to three bytes in the low 24 bits and
// its length in the top byte. A table lookup beats computing the bytes and is free of the
// branches that random two- and three-byte forms would mispredict.
const std::uint32_t* zigzag_varints() {
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
    return varints.get();
}

}  // namespace

void Encoder::append_zigzag_i16s(std::span<const std::int16_t> values) {
    if (values.size() > std::numeric_limits<std::size_t>::max() / max_zigzag_i16_bytes) {
        throw std::bad_alloc();
    }
    // Our own buffer gets room for the worst case once, plus one spare byte so that every
    // sample can be stored as one 4-byte word. Lent room is exact, so its last few samples are
    // stored byte by byte.
    if (data_.get_deleter().owns) reserve(values.size() * max_zigzag_i16_bytes + 1);
    // Local cursors: writes through the buffer pointer cannot then force reloads of the
    // encoder's own fields on every sample.
    std::uint8_t* const start = data_.get();
    std::uint8_t* out = start + size_;
    std::uint8_t* const room_end = start + capacity_;
    const std::uint32_t* const table = zigzag_varints();
    std::size_t i = 0;
    const std::size_t n = values.size();
    for (; i < n && room_end - out >= 4; ++i) {
        // The whole word is stored; bytes past the varint's length are overwritten by the next
        // sample or lie beyond the encoding's end, inside the room.
        const std::uint32_t entry = table[zigzag(values[i])];
        const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(entry), static_cast<std::uint8_t>(entry >> 8),
                                       static_cast<std::uint8_t>(entry >> 16), static_cast<std::uint8_t>(entry >> 24)};
        std::memcpy(out, bytes, 4);
        out += entry >> 24;
    }
    for (; i < n; ++i) {
        const std::uint32_t entry = table[zigzag(values[i])];
        const std::size_t length = entry >> 24;
        if (static_cast<std::size_t>(room_end - out) < length) {
            throw std::length_error("encoding exceeds the room it was given");
        }
        for (std::size_t k = 0; k < length; ++k) *out++ = static_cast<std::uint8_t>(entry >> (8 * k));
    }
    size_ = static_cast<std::size_t>(out - start);
}

}  // namespace encoding
