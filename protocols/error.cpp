#include "protocols/error.hpp"

#include <array>

namespace protocols {

std::string_view name_of(VORAError e) noexcept {
    static constexpr std::array<std::string_view, 11> names = {
        "OverCoilCurrent", "OverSupplyPower", "OverTemperature", "Underflow",
        "SPIError",        "GPIOError",       "I2cError",        "TCPError",
        "ConfigError",     "ProtocolError",   "Unintialized",
    };
    auto i = static_cast<std::size_t>(e);
    return i < names.size() ? names[i] : std::string_view("Unknown");
}

void fail_requirement(const char* condition, std::source_location where) {
    throw Failure(std::string("assertion failed: ") + condition, where);
}

}  // namespace protocols
