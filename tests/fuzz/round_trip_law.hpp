// The law every decoded input must keep, shared by the fuzzer and the regression test over
// its kept inputs: decoding refuses the bytes with DecodeFailure (at an offset inside them), or
// gives a protocol that encodes back to exactly those bytes, renders as text and can be checked;
// and every way of reading samples the processor runs comes to the same outcome.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "encoding/sample_runs.hpp"

#include "protocols/check/problems.hpp"
#include "protocols/file/record_decoding.hpp"
#include "protocols/file/record_encoding.hpp"
#include "protocols/settings.hpp"
#include "protocols/text/renderer.hpp"

namespace fuzz {

// What decoding with one way of reading samples gives: the failure's message, offset and path,
// or the bytes the decoded protocol encodes to.
struct Outcome {
    bool refused;
    std::string what;
    std::size_t offset = 0;
    std::string path;
    friend bool operator==(const Outcome&, const Outcome&) = default;
};

// Uses a way of reading samples for as long as it lives, then the one used before.
class UsingSampleDecoding {
public:
    explicit UsingSampleDecoding(encoding::SampleDecoding way) : ok_(encoding::use_sample_decoding(way)) {}
    ~UsingSampleDecoding() { (void)encoding::use_sample_decoding(before_); }
    UsingSampleDecoding(const UsingSampleDecoding&) = delete;
    UsingSampleDecoding& operator=(const UsingSampleDecoding&) = delete;
    bool ok() const noexcept { return ok_; }  // false: the processor cannot run it

private:
    encoding::SampleDecoding before_ = encoding::sample_decoding();
    bool ok_;
};

inline Outcome outcome_with(encoding::SampleDecoding way, std::span<const std::uint8_t> data) {
    namespace file = protocols::file;
    const UsingSampleDecoding using_way(way);
    try {
        const encoding::Bytes bytes = file::encode(file::decode(data));
        return Outcome{false, std::string(bytes.begin(), bytes.end()), 0, {}};
    } catch (const file::DecodeFailure& failure) {
        return Outcome{true, failure.what(), failure.offset(), failure.path()};
    }
}

// True when every way of reading samples that runs here gives the same outcome.
inline bool sample_decodings_agree(std::span<const std::uint8_t> data) {
    const Outcome scalar = outcome_with(encoding::SampleDecoding::scalar, data);
    for (const encoding::SampleDecoding way : encoding::all_sample_decodings) {
        if (encoding::runs_here(way) && outcome_with(way, data) != scalar) return false;
    }
    return true;
}

// True when the law holds; `decoded` tells which way.
inline bool round_trip_law_holds(std::span<const std::uint8_t> data, bool* decoded = nullptr) {
    if (!sample_decodings_agree(data)) return false;
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
