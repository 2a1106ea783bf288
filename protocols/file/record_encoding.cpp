#include "protocols/file/record_encoding.hpp"

#include <utility>

namespace protocols::file {

std::size_t encoded_size(const settings::Settings& settings) noexcept {
    SizeCounter counter;
    encode_record(counter, settings);
    return counter.size();
}

std::size_t encoded_size_bound(const settings::Settings& settings) noexcept {
    SizeCounter counter(SizeCounter::Samples::longest);
    encode_record(counter, settings);
    return counter.size();
}

std::size_t encode_into(const settings::Settings& settings, std::span<std::uint8_t> room) {
    Encoder enc = Encoder::into(room);
    encode_record(enc, settings);
    return enc.size();
}

encoding::Bytes encode(const settings::Settings& settings) {
    // One pass: the buffer grows as needed, and a sample list makes room for its longest form
    // at once; pages of that room left unused are never touched.
    Encoder enc;
    encode_record(enc, settings);
    return std::move(enc).finish();
}

}  // namespace protocols::file
