// Error kinds of the protocol library and the failed-condition road.
#pragma once

#include <cstdint>
#include <source_location>
#include <stdexcept>
#include <string>
#include <string_view>

namespace protocols {

// Plain error enumeration of the protocol library; its text form is the variant name.
enum class VORAError : std::uint8_t {
    OverCoilCurrent,
    OverSupplyPower,
    OverTemperature,
    Underflow,
    SPIError,
    GPIOError,
    I2cError,
    TCPError,
    ConfigError,
    ProtocolError,
    Unintialized,
};

std::string_view name_of(VORAError e) noexcept;

// A violated precondition. It carries the exact text the caller sees and where the check sits;
// the extension turns it into its panic exception, so nothing may have changed when it is thrown.
class Failure : public std::runtime_error {
public:
    Failure(std::string message, std::source_location where = std::source_location::current())
        : std::runtime_error(std::move(message)), where_(where) {}
    const std::source_location& where() const noexcept { return where_; }

private:
    std::source_location where_;
};

// Throws the Failure of a condition that did not hold. Kept out of line and cold, so that
// require itself is a test and a branch that every compiler inlines into hot loops.
[[noreturn, gnu::cold, gnu::noinline]] void fail_requirement(const char* condition,
                                                             std::source_location where);

// Stops the operation with "assertion failed: <condition>" when the condition does not hold.
inline void require(bool holds, const char* condition,
                    std::source_location where = std::source_location::current()) {
    if (!holds) [[unlikely]] fail_requirement(condition, where);
}

// The message of an internal failure that built-in values cannot cause.
inline std::string unwrap_failed(std::string_view error) {
    return std::string("called `Result::unwrap()` on an `Err` value: ").append(error);
}

}  // namespace protocols
