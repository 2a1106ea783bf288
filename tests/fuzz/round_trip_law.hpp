// The law every decoded input must keep, shared by the fuzzer and the regression test over
// its kept inputs: decoding refuses the bytes with DecodeFailure (at an offset inside them), or
// gives a protocol that encodes back to exactly those bytes, renders as text and can be checked.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>

#include "protocols/check/problems.hpp"
#include "protocols/file/record_decoding.hpp"
#include "protocols/file/record_encoding.hpp"
#include "protocols/settings.hpp"
#include "protocols/text/renderer.hpp"

namespace fuzz {

// True when the law holds; `decoded` tells which way.
inline bool round_trip_law_holds(std::span<const std::uint8_t> data, bool* decoded = nullptr) {
    namespace file = protocols::file;
    protocols::Protocol protocol;
    try {
        protocol.settings = file::decode(data);
    } catch (const file::DecodeFailure& failure) {
        if (decoded) *decoded = false;
        return failure.offset() <= data.size();
    }
    if (decoded) *decoded = true;
    if (file::encoded_size(protocol.settings) != data.size()) return false;
    const encoding::Bytes again = file::encode(protocol.settings);
    if (again.size() != data.size()) return false;
    if (!data.empty() && std::memcmp(again.data(), data.data(), data.size()) != 0) return false;
    (void)protocols::text::render_value(protocol);
    // What `pyvora show` and `check` do with a file: positions from the file may point anywhere.
    (void)protocols::text::render_value(protocol, 0, protocols::text::SampleLists::summary);
    (void)protocols::check::find_problems(protocol.settings);
    return true;
}

}  // namespace fuzz
