// Record encoders of the protocol file. They walk each record's `fields` description, the same
// one the text form walks, so the file follows the declaration order with no second list of
// fields to keep in step.
#pragma once

#include <array>
#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "encoding/encoder.hpp"
#include "protocols/record.hpp"
#include "protocols/settings.hpp"
#include "protocols/signals.hpp"

namespace protocols::file {

using encoding::EncodeError;
using encoding::EncodeStatus;
using encoding::Encoder;

namespace detail {
template <class T>
inline constexpr bool is_vector = false;
template <class T, class A>
inline constexpr bool is_vector<std::vector<T, A>> = true;
template <class>
inline constexpr bool unsupported = false;
}  // namespace detail

template <class T>
[[nodiscard]] EncodeStatus encode_value(Encoder& enc, const T& value);

// The fields in declaration order, each in its own kind; nothing before, between or after.
template <Record R>
[[nodiscard]] EncodeStatus encode_record(Encoder& enc, const R& record) {
    EncodeStatus status;
    R::fields(record, [&](std::string_view, const auto& member) {
        if (!status) status = encode_value(enc, member);
    });
    return status;
}

// Count, then each element; the first failure stops the sequence.
template <class T, class A>
[[nodiscard]] EncodeStatus encode_sequence(Encoder& enc, const std::vector<T, A>& items) {
    enc.append_seq_len(items.size());
    for (const T& item : items) {
        if (EncodeStatus status = encode_value(enc, item)) return status;
    }
    return {};
}

// Arbitrary samples: count, then one zigzag varint per sample, with room made once.
[[nodiscard]] EncodeStatus encode_samples(Encoder& enc, const signals::Samples& samples);

// Variant index, then the payload record.
[[nodiscard]] EncodeStatus encode_signal(Encoder& enc, const signals::Signal& signal);

// One field of any kind that occurs in a protocol. Types are matched exactly, so a field of
// a kind the file has no form for is a compile error rather than a silent conversion.
template <class T>
EncodeStatus encode_value(Encoder& enc, const T& value) {
    if constexpr (std::same_as<T, bool>) {
        enc.append_bool(value);
        return {};
    } else if constexpr (std::same_as<T, std::uint64_t>) {
        enc.append_varint(value);
        return {};
    } else if constexpr (std::same_as<T, double>) {
        enc.append_f64(value);
        return {};
    } else if constexpr (std::same_as<T, std::string>) {
        enc.append_text(value);
        return {};
    } else if constexpr (std::same_as<T, signals::Samples>) {
        return encode_samples(enc, value);
    } else if constexpr (detail::is_vector<T>) {
        return encode_sequence(enc, value);
    } else if constexpr (std::same_as<T, std::array<bool, settings::MONITOR_TRACES>>) {
        // Fixed length: the elements only, no count.
        for (const bool b : value) enc.append_bool(b);
        return {};
    } else if constexpr (std::same_as<T, signals::Signal>) {
        return encode_signal(enc, value);
    } else if constexpr (Record<T>) {
        return encode_record(enc, value);
    } else {
        static_assert(detail::unsupported<T>, "this field type has no protocol file encoding");
        return {};
    }
}

// The whole protocol file: a new buffer holding the encoding of one Settings value, or the
// first encoding failure (the partial buffer is released).
[[nodiscard]] std::variant<encoding::Bytes, EncodeError> encode(const settings::Settings& settings);

}  // namespace protocols::file
