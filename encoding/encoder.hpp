// The compact binary encoder of protocol files: varints, zigzag varints, little-endian f64,
// length-prefixed text and sequence counts, appended to one growable contiguous buffer.
// Nothing written is ever changed afterwards; the buffer is handed whole to the caller at the end.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

namespace encoding {

// The length of value's shortest varint: 1 to 10 bytes.
constexpr std::size_t varint_size(std::uint64_t value) noexcept {
    return 1 + static_cast<std::size_t>(std::bit_width(value | 1) - 1) / 7;
}

namespace detail {
// Frees a buffer the encoder allocated; leaves alone room that a caller lent it.
struct FreeDeleter {
    bool owns = true;
    void operator()(std::uint8_t* p) const noexcept;
};
using Buffer = std::unique_ptr<std::uint8_t, FreeDeleter>;
}  // namespace detail

// An owning byte buffer: the finished encoding.
class Bytes {
public:
    Bytes() noexcept = default;
    Bytes(Bytes&& other) noexcept
        : data_(std::move(other.data_)), size_(std::exchange(other.size_, 0)) {}
    Bytes& operator=(Bytes&& other) noexcept {
        data_ = std::move(other.data_);
        size_ = std::exchange(other.size_, 0);
        return *this;
    }

    const std::uint8_t* data() const noexcept { return data_.get(); }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    const std::uint8_t* begin() const noexcept { return data(); }
    const std::uint8_t* end() const noexcept { return data() + size_; }
    std::span<const std::uint8_t> span() const noexcept { return {data(), size_}; }

private:
    friend class Encoder;
    Bytes(detail::Buffer data, std::size_t size) noexcept : data_(std::move(data)), size_(size) {}

    detail::Buffer data_;
    std::size_t size_ = 0;
};

class Encoder {
public:
    Encoder() noexcept = default;
    // An encoder that writes into the caller's room (e.g. a Python bytes object of a measured
    // size) and never reallocates: an append that does not fit throws std::length_error.
    static Encoder into(std::span<std::uint8_t> room) noexcept {
        Encoder enc;
        enc.data_ = detail::Buffer(room.data(), detail::FreeDeleter{false});
        enc.capacity_ = room.size();
        return enc;
    }
    Encoder(Encoder&& other) noexcept
        : data_(std::move(other.data_)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    Encoder& operator=(Encoder&& other) noexcept {
        data_ = std::move(other.data_);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
        return *this;
    }
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    // Makes room for extra_bytes more bytes, so a run of appends that fits will not reallocate.
    // Throws std::bad_alloc when memory runs out.
    void reserve(std::size_t extra_bytes) {
        if (capacity_ - size_ < extra_bytes) grow(extra_bytes);
    }

    // 00 or 01.
    void append_bool(bool value) {
        reserve(1);
        data_.get()[size_++] = value ? 0x01 : 0x00;
    }

    // Unsigned little-endian base 128, shortest form, 1 to 10 bytes.
    void append_varint(std::uint64_t value) {
        reserve(varint_size(value));
        size_ = static_cast<std::size_t>(put_varint(data_.get() + size_, value) - data_.get());
    }

    // Zigzag mapping to u16 (0, -1, 1, -2 ... -> 0, 1, 2, 3 ...), then a varint of 1 to 3 bytes.
    void append_zigzag_i16(std::int16_t value) {
        reserve(varint_size(zigzag(value)));
        size_ = static_cast<std::size_t>(put_varint(data_.get() + size_, zigzag(value)) -
                                         data_.get());
    }

    // Each value as by append_zigzag_i16, with room made once for all of them (lent room must
    // hold exactly their encoding). No count is written. This is the path of arbitrary samples
    // (up to millions per signal).
    void append_zigzag_i16s(std::span<const std::int16_t> values);

    // The 8 bytes of the IEEE-754 binary64 form, least significant first, bit for bit
    // (negative zero, infinities and NaN payloads as held).
    void append_f64(double value) {
        static_assert(sizeof(double) == 8 && std::numeric_limits<double>::is_iec559);
        std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
        if constexpr (std::endian::native == std::endian::big) bits = byteswap64(bits);
        reserve(8);
        std::memcpy(data_.get() + size_, &bits, 8);
        size_ += 8;
    }

    // Byte count as a varint, then the bytes as they are; no terminator.
    void append_text(std::string_view utf8) {
        append_varint(utf8.size());
        append_raw(utf8.data(), utf8.size());
    }

    // The element count written before a sequence's elements.
    void append_seq_len(std::uint64_t count) { append_varint(count); }

    // The 0-based index of an enumeration variant, written before its payload.
    void append_variant_index(std::uint32_t index) { append_varint(index); }

    // Bytes appended so far.
    std::size_t size() const noexcept { return size_; }
    std::span<const std::uint8_t> written() const noexcept { return {data_.get(), size_}; }

    // Ends the encoder's use and hands its buffer over.
    Bytes finish() && noexcept {
        Bytes out(std::move(data_), size_);
        size_ = 0;
        capacity_ = 0;
        return out;
    }

    static constexpr std::size_t max_varint_bytes = 10;
    static constexpr std::size_t max_zigzag_i16_bytes = 3;

    static constexpr std::uint16_t zigzag(std::int16_t n) noexcept {
        // Arithmetic right shift of a negative value is defined since C++20.
        return static_cast<std::uint16_t>((static_cast<std::uint16_t>(n) << 1) ^
                                          static_cast<std::uint16_t>(n >> 15));
    }

private:
    // Writes the shortest varint of value at out and returns the position after it.
    static std::uint8_t* put_varint(std::uint8_t* out, std::uint64_t value) noexcept {
        while (value >= 0x80) {
            *out++ = static_cast<std::uint8_t>(value | 0x80);
            value >>= 7;
        }
        *out++ = static_cast<std::uint8_t>(value);
        return out;
    }

    static constexpr std::uint64_t byteswap64(std::uint64_t v) noexcept {
        std::uint64_t r = 0;
        for (int i = 0; i < 8; ++i) {
            r = (r << 8) | (v & 0xff);
            v >>= 8;
        }
        return r;
    }

    void append_raw(const void* bytes, std::size_t n) {
        if (n == 0) return;
        reserve(n);
        std::memcpy(data_.get() + size_, bytes, n);
        size_ += n;
    }

    // Grows the capacity geometrically (at least doubling) to hold extra_bytes more.
    void grow(std::size_t extra_bytes);

    detail::Buffer data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Counts the bytes an Encoder would append, writing nothing: exactly, or, as a bound, with
// every sample counted at its longest form (no pass over the samples), so that a caller can
// allocate room once and encode straight into it.
class SizeCounter {
public:
    enum class Samples : std::uint8_t { exact, longest };
    explicit SizeCounter(Samples samples = Samples::exact) noexcept : samples_(samples) {}

    void reserve(std::size_t) noexcept {}
    void append_bool(bool) noexcept { size_ += 1; }
    void append_varint(std::uint64_t value) noexcept { size_ += encoding::varint_size(value); }
    void append_zigzag_i16(std::int16_t value) noexcept {
        size_ += encoding::varint_size(Encoder::zigzag(value));
    }
    void append_zigzag_i16s(std::span<const std::int16_t> values) noexcept {
        if (samples_ == Samples::longest) {
            size_ += values.size() * Encoder::max_zigzag_i16_bytes;
            return;
        }
        std::size_t n = values.size();
        // Blocks whose 32-bit sums the compiler can keep in vector lanes.
        for (std::size_t i = 0; i < values.size(); i += 4096) {
            const std::size_t end = std::min(values.size(), i + 4096);
            std::uint32_t extra = 0;
            for (std::size_t j = i; j < end; ++j) {
                const std::uint16_t z = Encoder::zigzag(values[j]);
                extra += static_cast<std::uint32_t>(z >= 0x80) + static_cast<std::uint32_t>(z >= 0x4000);
            }
            n += extra;
        }
        size_ += n;
    }
    void append_f64(double) noexcept { size_ += 8; }
    void append_text(std::string_view utf8) noexcept {
        append_varint(utf8.size());
        size_ += utf8.size();
    }
    void append_seq_len(std::uint64_t count) noexcept { append_varint(count); }
    void append_variant_index(std::uint32_t index) noexcept { append_varint(index); }

    std::size_t size() const noexcept { return size_; }

private:
    std::size_t size_ = 0;
    Samples samples_;
};

}  // namespace encoding
