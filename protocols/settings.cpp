#include "protocols/settings.hpp"

#include <cstdlib>
#include <string_view>

#include "protocols/utf8.hpp"

namespace protocols::settings {

bool running_on_target_machine() {
    const char* value = std::getenv("VORA_TARGET_MACHINE");
    return value != nullptr && utf8::valid(value);
}

Settings Settings::make_default() {
    Settings s;
    s.running_on_target_machine = settings::running_on_target_machine();
    s.machine_config = machine_config::MachineConfig::make_default();
    s.signals.push_back(signals::Signal{signals::ConstantSignalParams{0.0}});
    s.intensity = 0.0;
    s.session_duration = 60.0;
    s.monitor_trace_visible.fill(false);
    s.monitor_subsampling_factor = 1;
    s.channel_a_settings = ChannelSettings{};
    s.channel_b_settings = ChannelSettings{};
    s.channel_a_settings.enabled = true;
    s.channel_b_settings.enabled = false;
    return s;
}

}  // namespace protocols::settings
