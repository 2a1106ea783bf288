#include "protocols/machine_config.hpp"

namespace protocols::machine_config {

MachineConfig MachineConfig::make_default() {
    MachineConfig config;
    config.coils.push_back(lcsettings::Coil::make_default());
    config.capacitors = {330.0};
    config.possible_capacitances = {330.0};
    return config;
}

}  // namespace protocols::machine_config
