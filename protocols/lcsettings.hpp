// A coil of the stimulator and its tuning table (LC table).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "protocols/error.hpp"

namespace protocols::lcsettings {

// One usable capacitor choice of a coil.
struct LCSetting {
    double capacitance = 0.0;        // nanofarads, the candidate unchanged
    double carrier_frequency = 0.0;  // kilohertz, after rounding to whole clock ticks
    std::uint64_t clk_ticks_per_sample = 0;    // ticks of the 160 MHz clock per carrier sample
    std::uint64_t capacitor_bank_setting = 0;  // 1-based position in the candidate list

    static constexpr std::string_view record_name = "LCSetting";
    template <class Self, class F>
    static void fields(Self& self, F&& f) {
        f("capacitance", self.capacitance);
        f("carrier_frequency", self.carrier_frequency);
        f("clk_ticks_per_sample", self.clk_ticks_per_sample);
        f("capacitor_bank_setting", self.capacitor_bank_setting);
    }

    friend bool operator==(const LCSetting&, const LCSetting&) = default;
};

// The coil hardware record. Its tuning table is never empty and runs from the highest tick
// count (lowest carrier frequency) to the lowest.
struct Coil {
    std::string name;
    double inductance = 0.0;             // microhenries
    double max_current = 0.0;            // stored, not used by the tuning
    double max_carrier_frequency = 0.0;  // kilohertz
    std::vector<LCSetting> settings;

    static constexpr std::string_view record_name = "Coil";
    template <class Self, class F>
    static void fields(Self& self, F&& f) {
        f("name", self.name);
        f("inductance", self.inductance);
        f("max_current", self.max_current);
        f("max_carrier_frequency", self.max_carrier_frequency);
        f("settings", self.settings);
    }

    // Tunes a coil over the candidate capacitances (nanofarads); ConfigError when none is usable.
    static std::variant<Coil, VORAError> make(std::string name, std::span<const double> candidates,
                                               double inductance, double max_current,
                                               double max_carrier_frequency);

    // The default coil, tuned on the spot.
    static Coil make_default();
};

// Tuning of one candidate; exposed for tests of the arithmetic.
LCSetting tune(double inductance, double capacitance, std::uint64_t bank_setting);

}  // namespace protocols::lcsettings
