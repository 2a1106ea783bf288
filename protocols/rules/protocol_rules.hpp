// What a protocol about to run almost certainly should not hold, though the methods accept it
// and saving writes it: the rules that find_problems() reports, each keyed by the member it
// judges, beside the rules that loading refuses by (value_rules.hpp). Rules on every measured
// value of a kind (finite numbers) apply to all members of that kind in the records named here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "protocols/rules/value_rules.hpp"
#include "protocols/settings.hpp"
#include "protocols/text/float_text.hpp"

namespace protocols::rules {

// What a reported rule knows beyond its record: the protocol as saving writes it, and where the
// walk over it is.
struct Context {
    explicit Context(const settings::Settings& settings) : s(settings) {}

    const settings::Settings& s;
    std::uint64_t table_size = 0;
    bool table_was_empty = false;  // the table's one signal is the one saving adds
    std::optional<std::uint64_t> expected_samples;
    std::vector<std::size_t> component;  // for each signal, its cycle of mixes (empty without mixes)
    std::size_t signal = 0;                    // the position of the signal being walked
    const lcsettings::Coil* coil = nullptr;    // the coil whose tuning table is being walked
};

// What is wrong, without the path the checker puts before it.
using Found = std::vector<std::string>;

template <class R, class T>
struct CheckRule {
    static constexpr Severity severity = Severity::reported;
    T R::*member;
    void (*judge)(const Context&, const R&, const T&, Found&);
};

void intensity_rule(const Context&, const settings::Settings&, const double&, Found&);
void safety_checks_rule(const Context&, const machine_config::MachineConfig&, const bool&, Found&);
void coil_carrier_rule(const Context&, const lcsettings::Coil&, const double&, Found&);
void tuned_carrier_rule(const Context&, const lcsettings::LCSetting&, const double&, Found&);
void tuned_ticks_rule(const Context&, const lcsettings::LCSetting&, const std::uint64_t&, Found&);
void bank_setting_rule(const Context&, const lcsettings::LCSetting&, const std::uint64_t&, Found&);
// A sine's frequency and a ramp's durations cannot be negative.
template <class Params>
void not_negative_rule(const Context&, const Params&, const double& value, Found& found) {
    if (value < 0.0) found.push_back(text::float_text(value) + " is negative");
}
void mixed_part_rule(const Context&, const signals::MixedSignalParams&, const std::uint64_t&, Found&);
void sample_count_rule(const Context&, const signals::ArbitrarySignalParams&, const signals::Samples&, Found&);
void coil_rule(const Context&, const settings::ChannelSettings&, const std::uint64_t&, Found&);
void tuning_entry_rule(const Context&, const settings::ChannelSettings&, const std::uint64_t&, Found&);
void internal_source_rule(const Context&, const settings::SignalSourceSelection&, const std::uint64_t&, Found&);
void external_source_rule(const Context&, const settings::SignalSourceSelection&, const std::uint64_t&, Found&);

// A measured value of the machine description or a signal parameter: whatever its unit, a NaN
// or an infinity is no setting. False, with what is wrong in `found`, for such a value.
bool finite_rule(double value, Found& found);

namespace detail {
using settings::ChannelSettings;
using settings::Settings;
using settings::SignalSourceSelection;
namespace sig = protocols::signals;
using lcsettings::Coil;
using lcsettings::LCSetting;
using machine_config::MachineConfig;

inline constexpr std::tuple check_rules{
    CheckRule<Settings, double>{&Settings::intensity, intensity_rule},
    CheckRule<MachineConfig, bool>{&MachineConfig::safety_checks_enabled, safety_checks_rule},
    CheckRule<Coil, double>{&Coil::max_carrier_frequency, coil_carrier_rule},
    CheckRule<LCSetting, double>{&LCSetting::carrier_frequency, tuned_carrier_rule},
    CheckRule<LCSetting, std::uint64_t>{&LCSetting::clk_ticks_per_sample, tuned_ticks_rule},
    CheckRule<LCSetting, std::uint64_t>{&LCSetting::capacitor_bank_setting, bank_setting_rule},
    CheckRule<sig::SineSignalParams, double>{&sig::SineSignalParams::frequency, not_negative_rule},
    CheckRule<sig::RampSignalParams, double>{&sig::RampSignalParams::up_duration, not_negative_rule},
    CheckRule<sig::RampSignalParams, double>{&sig::RampSignalParams::down_duration, not_negative_rule},
    CheckRule<sig::MixedSignalParams, std::uint64_t>{&sig::MixedSignalParams::a_idx, mixed_part_rule},
    CheckRule<sig::MixedSignalParams, std::uint64_t>{&sig::MixedSignalParams::b_idx, mixed_part_rule},
    CheckRule<sig::ArbitrarySignalParams, sig::Samples>{&sig::ArbitrarySignalParams::samples, sample_count_rule},
    CheckRule<ChannelSettings, std::uint64_t>{&ChannelSettings::coil_idx, coil_rule},
    CheckRule<ChannelSettings, std::uint64_t>{&ChannelSettings::coil_setting_idx, tuning_entry_rule},
    CheckRule<SignalSourceSelection, std::uint64_t>{&SignalSourceSelection::internal, internal_source_rule},
    CheckRule<SignalSourceSelection, std::uint64_t>{&SignalSourceSelection::external, external_source_rule},
};
}  // namespace detail

// Runs the reported rules on `member`, a member of `record`; nothing for members without one.
template <class R, class T>
void check_member(const Context& context, const R& record, const T& member, Found& found) {
    std::apply(
        [&](const auto&... rule) {
            const auto judge = [&]<class RR, class TT>(const CheckRule<RR, TT>& r) {
                if constexpr (std::same_as<RR, R> && std::same_as<TT, T>) {
                    if (&(record.*r.member) == &member) r.judge(context, record, member, found);
                }
            };
            (judge(rule), ...);
        },
        detail::check_rules);
}

}  // namespace protocols::rules
