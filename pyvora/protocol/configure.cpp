// Intensity, session length, channels and routing.
#include "protocols/config.hpp"
#include "pyvora/protocol/methods.hpp"

namespace pyvora::methods {

using protocols::require;
using protocols::settings::ChannelSettings;
using protocols::settings::SignalSourceSelection;

namespace {

ChannelSettings& channel_of(Settings& s, ChannelId channel) {
    return channel == ChannelId::A ? s.channel_a_settings : s.channel_b_settings;
}

// The selection not in force always holds 0, so a later call replaces an earlier one whole.
void select(SignalSourceSelection& selection, std::uint64_t index, bool external) {
    selection.internal = external ? 0 : index;
    selection.external = external ? index : 0;
    selection.external_selected = external;
}

}  // namespace

void set_stimulation_intensity(Settings& s, double intensity) {
    require(intensity >= protocols::config::MIN_INTENSITY && intensity <= protocols::config::MAX_INTENSITY,
            "intensity >= 0.0 && intensity <= 1.0");
    s.intensity = intensity;
}

void set_session_duration(Settings& s, double duration) {
    // The upper bound is tested first, so NaN is refused with its message.
    require(duration <= protocols::config::MAX_SESSION_DURATION, "duration <= config::MAX_SESSION_DURATION");
    require(duration >= protocols::config::MIN_SESSION_DURATION, "duration >= 0.01");
    s.session_duration = duration;
}

void enable_channel(Settings& s, ChannelId channel) { channel_of(s, channel).enabled = true; }

void set_amplitude_source(Settings& s, CoilId coil, std::uint64_t index, std::optional<bool> external) {
    const bool first = coil == CoilId::A1 || coil == CoilId::B1;
    ChannelSettings& channel = channel_of(s, coil <= CoilId::A2 ? ChannelId::A : ChannelId::B);
    select(first ? channel.amplitude1_source : channel.amplitude2_source, index, external.value_or(false));
}

void set_modulation_source(Settings& s, ChannelId channel, std::uint64_t index,
                           std::optional<bool> external) {
    select(channel_of(s, channel).modulation_source, index, external.value_or(false));
}

std::uint64_t get_num_samples(Settings& s) { return protocols::signals::num_samples(s.session_duration); }

double get_sampling_rate(const Settings&) { return protocols::signals::SAMPLING_RATE; }

}  // namespace pyvora::methods
