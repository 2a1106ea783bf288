// Constant, sine, ramp and mixed signals: their values are stored unchecked.
#include "pyvora/protocol/methods.hpp"

namespace pyvora::methods {

namespace sig = protocols::signals;

StagedAppend add_constant_signal(Settings& s, double value) {
    return StagedAppend(s.signals, sig::Signal{sig::ConstantSignalParams{value}});
}

StagedAppend add_sine_signal(Settings& s, double amplitude, double frequency,
                             std::optional<double> phase, std::optional<double> depth) {
    return StagedAppend(s.signals, sig::Signal{sig::SineSignalParams{
                                       amplitude, frequency, phase.value_or(0.0), depth.value_or(1.0)}});
}

StagedAppend add_ramp_signal(Settings& s, double peak, double up_duration, double down_duration) {
    return StagedAppend(s.signals, sig::Signal{sig::RampSignalParams{peak, up_duration, down_duration}});
}

StagedAppend add_mixed_signal(Settings& s, std::uint64_t a_idx, std::uint64_t b_idx) {
    return StagedAppend(s.signals, sig::Signal{sig::MixedSignalParams{a_idx, b_idx}});
}

}  // namespace pyvora::methods
