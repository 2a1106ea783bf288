#include "protocols/file/record_encoding.hpp"

#include <stdexcept>
#include <utility>

namespace protocols::file {

std::size_t encoded_size(const settings::Settings& settings) noexcept {
    SizeCounter counter;
    encode_record(counter, settings);
    return counter.size();
}

void encode_into(const settings::Settings& settings, std::span<std::uint8_t> room) {
    Encoder enc = Encoder::into(room);
    encode_record(enc, settings);
    if (enc.size() != room.size()) throw std::length_error("encoding is shorter than its measure");
}

encoding::Bytes encode(const settings::Settings& settings) {
    Encoder enc;
    // Room for the exact size plus the one spare byte the sample writer likes to have.
    enc.reserve(encoded_size(settings) + 1);
    encode_record(enc, settings);
    return std::move(enc).finish();
}

}  // namespace protocols::file
