// What several C++ tests share: bytes as hex, the bytes of a sample, the message of a failed
// condition, and a scoped environment variable.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>

#include "encoding/encoder.hpp"
#include "protocols/error.hpp"

namespace test_helpers {

// "01 ac 02": each byte as two lower-case hex digits, separated by spaces.
inline std::string hex(std::span<const std::uint8_t> bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t b : bytes) {
        if (!out.empty()) out += ' ';
        out += digits[b >> 4];
        out += digits[b & 0xf];
    }
    return out;
}

// The bytes one sample takes in a file: its zigzag varint.
inline std::size_t sample_size(std::int16_t sample) {
    return encoding::varint_size(encoding::Encoder::zigzag(sample));
}

// The message of the failed condition that f throws, or "no failure".
template <class F>
std::string failure_message(F&& f) {
    try {
        f();
    } catch (const protocols::Failure& failure) {
        return failure.what();
    }
    return "no failure";
}

// Sets (or, for nullptr, clears) an environment variable for one scope and puts back what was
// there before.
class EnvVariable {
public:
    EnvVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) saved_ = old;
        set(value);
    }
    ~EnvVariable() { set(saved_ ? saved_->c_str() : nullptr); }
    EnvVariable(const EnvVariable&) = delete;
    EnvVariable& operator=(const EnvVariable&) = delete;

private:
    void set(const char* value) {
        if (value) {
            ::setenv(name_, value, 1);
        } else {
            ::unsetenv(name_);
        }
    }

    const char* name_;
    std::optional<std::string> saved_;
};

// VORA_TARGET_MACHINE, which the default protocol reads, for one scope.
struct TargetMachineVariable : EnvVariable {
    explicit TargetMachineVariable(const char* value) : EnvVariable("VORA_TARGET_MACHINE", value) {}
};

}  // namespace test_helpers
