#include "protocols/file/record_encoding.hpp"

#include <limits>
#include <new>
#include <utility>

namespace protocols::file {

EncodeStatus encode_samples(Encoder& enc, const signals::Samples& samples) {
    const std::size_t n = samples.size();
    if (n > (std::numeric_limits<std::size_t>::max() - Encoder::max_varint_bytes) /
                Encoder::max_zigzag_i16_bytes) {
        throw std::bad_alloc();
    }
    // One reservation for the count and the worst case of every sample.
    enc.reserve(Encoder::max_zigzag_i16_bytes * n + Encoder::max_varint_bytes);
    enc.append_seq_len(n);
    enc.append_zigzag_i16s(samples);
    return {};
}

EncodeStatus encode_signal(Encoder& enc, const signals::Signal& signal) {
    static_assert(std::variant_size_v<signals::Signal::Params> < 128,
                  "a signal's variant index is one byte");
    // Visiting first: a variant left without a value throws here, before any byte is written.
    return std::visit(
        [&](const auto& params) -> EncodeStatus {
            enc.append_variant_index(static_cast<std::uint32_t>(signal.params.index()));
            return encode_record(enc, params);
        },
        signal.params);
}

std::variant<encoding::Bytes, EncodeError> encode(const settings::Settings& settings) {
    Encoder enc;
    if (EncodeStatus status = encode_record(enc, settings)) return *status;
    return std::move(enc).finish();
}

}  // namespace protocols::file
