#include "protocols/rules/protocol_rules.hpp"

#include <cmath>
#include <string_view>

#include "protocols/text/float_text.hpp"

namespace protocols::rules {
namespace {

std::string number(std::uint64_t n) { return std::to_string(n); }

std::string number(double x) { return text::float_text(x); }

// "1 signal", "2 signals".
std::string count_of(std::uint64_t n, std::string_view one, std::string_view many) {
    return number(n).append(" ").append(n == 1 ? one : many);
}

std::string missing_signal(const Context& c, std::uint64_t position) {
    std::string text = "signal " + number(position) + " does not exist; ";
    if (c.table_was_empty) return text + "the table is empty (save adds 1 signal, the constant 0.0)";
    return text + "the table has " + count_of(c.table_size, "signal", "signals");
}

// What the coil's own tuning computation gives for an entry; none when the coil's inductance
// or the entry's capacitance is no number to tune with (reported as not finite).
std::optional<lcsettings::LCSetting> tuned_entry(const Context& c, const lcsettings::LCSetting& entry) {
    if (c.coil == nullptr || !std::isfinite(c.coil->inductance) || !std::isfinite(entry.capacitance)) {
        return std::nullopt;
    }
    return lcsettings::tune(c.coil->inductance, entry.capacitance, entry.capacitor_bank_setting);
}

std::string tuning_of(const Context& c, const lcsettings::LCSetting& entry) {
    return "capacitance " + number(entry.capacitance) + " and the coil's inductance " + number(c.coil->inductance);
}

}  // namespace

bool finite_rule(double value, Found& found) {
    if (std::isfinite(value)) return true;
    found.push_back(number(value) + " is not finite");
    return false;
}

void intensity_rule(const Context&, const settings::Settings& s, const double& value, Found& found) {
    const double limit = s.machine_config.max_intensity_setpoint;
    if (value > limit) found.push_back(number(value) + " is above machine_config.max_intensity_setpoint " + number(limit));
}

// The stimulator's own checks are a safety net no protocol should run without.
void safety_checks_rule(const Context&, const machine_config::MachineConfig&, const bool& value, Found& found) {
    if (!value) found.push_back("false: the stimulator will not apply its own safety checks");
}

void coil_carrier_rule(const Context& c, const lcsettings::Coil&, const double& value, Found& found) {
    const double machine = c.s.machine_config.max_carrier_frequency;
    if (value > machine) found.push_back(number(value) + " is above machine_config.max_carrier_frequency " + number(machine));
}

// A tuning entry holds what the tuning rule gives for its capacitance on its coil: an entry
// edited by hand would drive the coil at a frequency nobody computed.
void tuned_carrier_rule(const Context& c, const lcsettings::LCSetting& entry, const double& value, Found& found) {
    if (const auto tuned = tuned_entry(c, entry); tuned && value != tuned->carrier_frequency) {
        found.push_back(number(value) + ", but " + tuning_of(c, entry) + " give " + number(tuned->carrier_frequency));
    }
}

void tuned_ticks_rule(const Context& c, const lcsettings::LCSetting& entry, const std::uint64_t& value, Found& found) {
    if (const auto tuned = tuned_entry(c, entry); tuned && value != tuned->clk_ticks_per_sample) {
        found.push_back(number(value) + ", but " + tuning_of(c, entry) + " give " + number(tuned->clk_ticks_per_sample));
    }
}

void bank_setting_rule(const Context&, const lcsettings::LCSetting&, const std::uint64_t& value, Found& found) {
    if (value == 0) found.push_back("0, but positions in the list of candidate capacitances start at 1");
}

void mixed_part_rule(const Context& c, const signals::MixedSignalParams&, const std::uint64_t& target, Found& found) {
    const std::size_t self = c.signal;
    if (target >= c.table_size) {
        found.push_back(missing_signal(c, target));
    } else if (target == self) {
        found.push_back("mixed signal " + number(self) + " refers to itself");
    } else if (c.component[target] == c.component[self]) {
        found.push_back("mixed signal " + number(self) + " refers to itself through signal " + number(target));
    }
}

void sample_count_rule(const Context& c, const signals::ArbitrarySignalParams&, const signals::Samples& samples,
                       Found& found) {
    if (!c.expected_samples || samples.size() == *c.expected_samples) return;
    found.push_back(count_of(samples.size(), "sample", "samples") + ", but the session of " +
                    number(c.s.session_duration) + " s has " + number(*c.expected_samples));
}

void coil_rule(const Context& c, const settings::ChannelSettings& channel, const std::uint64_t&, Found& found) {
    const std::size_t coils = c.s.machine_config.coils.size();
    if (channel.coil_idx >= coils) {
        found.push_back("coil " + number(channel.coil_idx) + " does not exist; the machine has " +
                        count_of(coils, "coil", "coils"));
    }
}

void tuning_entry_rule(const Context& c, const settings::ChannelSettings& channel, const std::uint64_t&,
                       Found& found) {
    const auto& machine = c.s.machine_config;
    if (channel.coil_idx >= machine.coils.size()) return;  // reported for coil_idx
    const lcsettings::Coil& coil = machine.coils[channel.coil_idx];
    if (channel.coil_setting_idx >= coil.settings.size()) {
        found.push_back("tuning entry " + number(channel.coil_setting_idx) + " does not exist; coil " +
                        number(channel.coil_idx) + " has " + count_of(coil.settings.size(), "entry", "entries"));
        return;
    }
    const double carrier = coil.settings[channel.coil_setting_idx].carrier_frequency;
    const std::string entry = "tuning entry " + number(channel.coil_setting_idx) + " of coil " +
                              number(channel.coil_idx) + " runs at " + number(carrier) + " kHz, above ";
    if (carrier > coil.max_carrier_frequency) {
        found.push_back(entry + "machine_config.coils[" + number(channel.coil_idx) + "].max_carrier_frequency " +
                        number(coil.max_carrier_frequency));
    }
    if (carrier > machine.max_carrier_frequency) {
        found.push_back(entry + "machine_config.max_carrier_frequency " + number(machine.max_carrier_frequency));
    }
}

// Only the selection in force is judged; the other one holds 0 and means nothing.
void internal_source_rule(const Context& c, const settings::SignalSourceSelection& selection, const std::uint64_t&,
                          Found& found) {
    if (!selection.external_selected && selection.internal >= c.table_size) {
        found.push_back(missing_signal(c, selection.internal));
    }
}

void external_source_rule(const Context& c, const settings::SignalSourceSelection& selection, const std::uint64_t&,
                          Found& found) {
    const std::uint64_t inputs = c.s.machine_config.num_external_signal_sources;
    if (selection.external_selected && selection.external >= inputs) {
        found.push_back("external input " + number(selection.external) + " does not exist; the machine has " +
                        count_of(inputs, "external input", "external inputs"));
    }
}

}  // namespace protocols::rules
