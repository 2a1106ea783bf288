// Record encoders of the protocol file: a visitor of the walk of records (record.hpp), the
// same one the text form and the decoder take, so the file follows the declaration order with
// no second list of fields to keep in step. They are generic over the sink: an Encoder writes the
// bytes, a SizeCounter measures them first so the room is allocated once.
#pragma once

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
#include "protocols/walker.hpp"

namespace protocols::file {

using encoding::Encoder;
using encoding::SizeCounter;

// Writes each kind as the file holds it; a field of a kind the file has no form for is a
// compile error rather than a silent conversion. Records are their fields in declaration order,
// nothing before, between or after; flags are their elements only, no count; a signal is its
// variant index, then its payload's fields (Walker's descent).
template <class Sink>
struct FileWriter : Walker<FileWriter<Sink>> {
    explicit FileWriter(Sink& sink) noexcept : out(sink) {}

    Sink& out;

    void scalar(bool value) { out.append_bool(value); }
    void scalar(std::uint64_t value) { out.append_varint(value); }
    void scalar(double value) { out.append_f64(value); }
    void text(const std::string& value) { out.append_text(value); }
    // Arbitrary samples: count, then one zigzag varint per sample (the sink makes room once).
    void samples(const signals::Samples& samples) {
        out.append_seq_len(samples.size());
        out.append_zigzag_i16s(samples);
    }
    // Count, then each element.
    using Walker<FileWriter>::list;
    template <class T, class A>
    void list(const std::vector<T, A>& items) {
        out.append_seq_len(items.size());
        Walker<FileWriter>::list(items);
    }
    void kind(const signals::Signal& signal) {
        static_assert(std::variant_size_v<signals::Signal::Params> < 128,
                      "a signal's variant index is one byte");
        out.append_variant_index(static_cast<std::uint32_t>(signal.params.index()));
    }
};

// One field of any kind that occurs in a protocol.
template <class Sink, class T>
void encode_value(Sink& out, const T& value) {
    FileWriter<Sink> writer(out);
    protocols::visit(writer, value);
}

template <class Sink, Record R>
void encode_record(Sink& out, const R& record) {
    encode_value(out, record);
}

template <class Sink>
void encode_signal(Sink& out, const signals::Signal& signal) {
    encode_value(out, signal);
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
