// Reading a protocol file back. The record decoders walk each record's `fields` description,
// the same one the encoder and the text form walk, so the three cannot disagree on order.
// Untrusted bytes are refused with a DecodeFailure that names the field being read; values
// the methods and saving can never produce are refused too, everything else loads as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

#include "protocols/rules/value_rules.hpp"
#include "protocols/settings.hpp"

namespace protocols::file {

class DecodeFailure : public std::runtime_error {
public:
    // message: "<problem> for <path> at byte <offset>", or "<problem> at byte <offset>" when
    // no field was being read.
    DecodeFailure(std::string message, std::size_t offset, std::string path)
        : std::runtime_error(std::move(message)), offset_(offset), path_(std::move(path)) {}

    std::size_t offset() const noexcept { return offset_; }
    // The field being read, as `signals[2].samples[17]`; empty when none was.
    const std::string& path() const noexcept { return path_; }

private:
    std::size_t offset_;
    std::string path_;
};

// Decodes exactly one Settings value filling all of bytes. Throws DecodeFailure, or
// std::bad_alloc when memory runs out. Before its elements are read, a list takes at most
// twice the bytes left in memory, and it grows only with the elements actually read, so
// memory is bounded by the size of bytes.
settings::Settings decode(std::span<const std::uint8_t> bytes);

}  // namespace protocols::file
