// The whole stimulation protocol and its per-channel routing.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "protocols/machine_config.hpp"
#include "protocols/signals.hpp"

namespace protocols::settings {

// What drives one amplitude or modulation input: an internal signal or an external input.
// The selection not in force holds 0.
struct SignalSourceSelection {
    std::uint64_t internal = 0;
    std::uint64_t external = 0;
    bool external_selected = false;

    static constexpr std::string_view record_name = "SignalSourceSelection";
    template <class Self, class F>
    static void fields(Self& self, F&& f) {
        f("internal", self.internal);
        f("external", self.external);
        f("external_selected", self.external_selected);
    }
};

struct ChannelSettings {
    bool enabled = false;
    SignalSourceSelection amplitude1_source;
    SignalSourceSelection amplitude2_source;
    SignalSourceSelection modulation_source;
    std::uint64_t coil_idx = 0;
    std::uint64_t coil_setting_idx = 0;

    static constexpr std::string_view record_name = "ChannelSettings";
    template <class Self, class F>
    static void fields(Self& self, F&& f) {
        f("enabled", self.enabled);
        f("amplitude1_source", self.amplitude1_source);
        f("amplitude2_source", self.amplitude2_source);
        f("modulation_source", self.modulation_source);
        f("coil_idx", self.coil_idx);
        f("coil_setting_idx", self.coil_setting_idx);
    }
};

inline constexpr std::size_t MONITOR_TRACES = 16;

struct Settings {
    bool running_on_target_machine = false;
    machine_config::MachineConfig machine_config;
    double intensity = 0.0;
    double session_duration = 60.0;
    signals::SignalTable signals;
    ChannelSettings channel_a_settings;
    ChannelSettings channel_b_settings;
    std::array<bool, MONITOR_TRACES> monitor_trace_visible{};  // fixed length: no count in the file
    std::uint64_t monitor_subsampling_factor = 1;

    static constexpr std::string_view record_name = "Settings";
    template <class Self, class F>
    static void fields(Self& self, F&& f) {
        f("running_on_target_machine", self.running_on_target_machine);
        f("machine_config", self.machine_config);
        f("intensity", self.intensity);
        f("session_duration", self.session_duration);
        f("signals", self.signals);
        f("channel_a_settings", self.channel_a_settings);
        f("channel_b_settings", self.channel_b_settings);
        f("monitor_trace_visible", self.monitor_trace_visible);
        f("monitor_subsampling_factor", self.monitor_subsampling_factor);
    }

    // The default protocol. Reads VORA_TARGET_MACHINE each time it runs.
    static Settings make_default();
};

// True when VORA_TARGET_MACHINE is set to valid UTF-8 (the empty value included).
bool running_on_target_machine();

// The Settings value that saving writes: s itself, or, when its signal table is empty, a copy in
// `filled` holding the one constant 0.0 signal that saving adds (small: no signals to copy).
inline const Settings& as_saved(const Settings& s, std::optional<Settings>& filled) {
    if (!s.signals.empty()) return s;
    filled.emplace(s);
    filled->signals.push_back(signals::Signal{signals::ConstantSignalParams{0.0}});
    return *filled;
}

}  // namespace protocols::settings

namespace protocols {

// The wrapper record that the text form starts from.
struct Protocol {
    settings::Settings settings;

    static constexpr std::string_view record_name = "Protocol";
    template <class Self, class F>
    static void fields(Self& self, F&& f) {
        f("settings", self.settings);
    }
};

}  // namespace protocols
