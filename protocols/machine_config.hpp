// The description of the stimulator a protocol is meant for.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "protocols/lcsettings.hpp"

namespace protocols::machine_config {

struct MachineConfig {
    double supply_voltage = 80.0;
    std::uint64_t num_coils = 2;  // stored as is; nothing compares it with coils.size()
    std::vector<lcsettings::Coil> coils;
    std::vector<double> capacitors;             // nanofarads
    std::vector<double> possible_capacitances;  // nanofarads
    std::uint64_t num_external_signal_sources = 6;
    bool smbus_psu_connected = false;
    std::uint64_t num_temperature_sensors = 0;
    std::uint64_t num_flow_rate_sensors = 0;
    bool safety_checks_enabled = true;
    double max_intensity_setpoint = 0.3;
    double max_current = 0.5;
    double max_carrier_frequency = 40.0;
    double max_temperature = 40.0;
    double min_flowrate = 70.0;
    double max_power = 520.0;

    static constexpr std::string_view record_name = "MachineConfig";
    template <class Self, class F>
    static void fields(Self& self, F&& f) {
        f("supply_voltage", self.supply_voltage);
        f("num_coils", self.num_coils);
        f("coils", self.coils);
        f("capacitors", self.capacitors);
        f("possible_capacitances", self.possible_capacitances);
        f("num_external_signal_sources", self.num_external_signal_sources);
        f("smbus_psu_connected", self.smbus_psu_connected);
        f("num_temperature_sensors", self.num_temperature_sensors);
        f("num_flow_rate_sensors", self.num_flow_rate_sensors);
        f("safety_checks_enabled", self.safety_checks_enabled);
        f("max_intensity_setpoint", self.max_intensity_setpoint);
        f("max_current", self.max_current);
        f("max_carrier_frequency", self.max_carrier_frequency);
        f("max_temperature", self.max_temperature);
        f("min_flowrate", self.min_flowrate);
        f("max_power", self.max_power);
    }

    // The default machine: the default coil (tuned now), then the capacitance lists.
    static MachineConfig make_default();
};

}  // namespace protocols::machine_config
