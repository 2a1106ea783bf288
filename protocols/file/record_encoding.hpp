// Record encoders of the protocol file. They walk each record's `fields` description, the same
// one the text form and the decoder walk, so the file follows the declaration order with no
// second list of fields to keep in step. They are generic over the sink: an Encoder writes the
// bytes, a SizeCounter measures them first so the room is allocated once.
#pragma once

#include <array>
#include <concepts>
#include <cstdint>
#include <optional>
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

using encoding::Encoder;
using encoding::SizeCounter;

namespace detail {
template <class T>
inline constexpr bool is_vector = false;
template <class T, class A>
inline constexpr bool is_vector<std::vector<T, A>> = true;
template <class>
inline constexpr bool unsupported = false;
}  // namespace detail

template <class Sink, class T>
void encode_value(Sink& out, const T& value);

// The fields in declaration order, each in its own kind; nothing before, between or after.
template <class Sink, Record R>
void encode_record(Sink& out, const R& record) {
    R::fields(record, [&](std::string_view, const auto& member) { encode_value(out, member); });
}

// Count, then each element.
template <class Sink, class T, class A>
void encode_sequence(Sink& out, const std::vector<T, A>& items) {
    out.append_seq_len(items.size());
    for (const T& item : items) encode_value(out, item);
}

// Arbitrary samples: count, then one zigzag varint per sample (the sink makes room once).
template <class Sink>
void encode_samples(Sink& out, const signals::Samples& samples) {
    out.append_seq_len(samples.size());
    out.append_zigzag_i16s(samples);
}

// Variant index, then the payload record.
template <class Sink>
void encode_signal(Sink& out, const signals::Signal& signal) {
    static_assert(std::variant_size_v<signals::Signal::Params> < 128,
                  "a signal's variant index is one byte");
    // Visiting first: a variant left without a value throws here, before any byte is written.
    std::visit(
        [&](const auto& params) {
            out.append_variant_index(static_cast<std::uint32_t>(signal.params.index()));
            encode_record(out, params);
        },
        signal.params);
}

// One field of any kind that occurs in a protocol. Types are matched exactly, so a field of
// a kind the file has no form for is a compile error rather than a silent conversion.
template <class Sink, class T>
void encode_value(Sink& out, const T& value) {
    if constexpr (std::same_as<T, bool>) {
        out.append_bool(value);
    } else if constexpr (std::same_as<T, std::uint64_t>) {
        out.append_varint(value);
    } else if constexpr (std::same_as<T, double>) {
        out.append_f64(value);
    } else if constexpr (std::same_as<T, std::string>) {
        out.append_text(value);
    } else if constexpr (std::same_as<T, signals::Samples>) {
        encode_samples(out, value);
    } else if constexpr (detail::is_vector<T>) {
        encode_sequence(out, value);
    } else if constexpr (std::same_as<T, std::array<bool, settings::MONITOR_TRACES>>) {
        // Fixed length: the elements only, no count.
        for (const bool b : value) out.append_bool(b);
    } else if constexpr (std::same_as<T, signals::Signal>) {
        encode_signal(out, value);
    } else if constexpr (Record<T>) {
        encode_record(out, value);
    } else {
        static_assert(detail::unsupported<T>, "this field type has no protocol file encoding");
    }
}

// The Settings value that saving writes: s itself, or, when its signal table is empty, a copy in
// `filled` holding the one constant 0.0 signal that saving adds (small: no signals to copy).
inline const settings::Settings& as_saved(const settings::Settings& s,
                                          std::optional<settings::Settings>& filled) {
    if (!s.signals.empty()) return s;
    filled.emplace(s);
    filled->signals.push_back(signals::Signal{signals::ConstantSignalParams{0.0}});
    return *filled;
}

// The exact length of the protocol file of one Settings value.
std::size_t encoded_size(const settings::Settings& settings) noexcept;

// A length the file cannot exceed, found without a pass over the samples.
std::size_t encoded_size_bound(const settings::Settings& settings) noexcept;

// Writes the file's bytes into room of at least encoded_size(settings) bytes; returns how
// many it wrote.
std::size_t encode_into(const settings::Settings& settings, std::span<std::uint8_t> room);

// The whole protocol file in a new buffer.
[[nodiscard]] encoding::Bytes encode(const settings::Settings& settings);

}  // namespace protocols::file
