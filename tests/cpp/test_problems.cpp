// The checks on what the methods cannot build: other machines, an empty table, long chains of
// mixed signals. The Python tests cover each rule on protocols the methods build.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "protocols/check/problems.hpp"

namespace {

using protocols::check::find_problems;
using protocols::settings::Settings;
namespace sig = protocols::signals;
using Problems = std::vector<std::string>;

struct Case {
    std::string name;
    std::function<void(Settings&)> change;  // applied to a protocol with two sine signals
    Problems expected;
};

Settings two_sines() {
    Settings s = Settings::make_default();
    s.signals = {sig::Signal{sig::SineSignalParams{1.0, 10.0, 0.0, 1.0}},
                 sig::Signal{sig::SineSignalParams{0.5, 5.0, 0.0, 1.0}}};
    return s;
}

sig::Signal mixed(std::uint64_t a, std::uint64_t b) { return sig::Signal{sig::MixedSignalParams{a, b}}; }

class Problem : public testing::TestWithParam<Case> {};

TEST_P(Problem, ReportedExactly) {
    Settings s = two_sines();
    GetParam().change(s);
    EXPECT_EQ(find_problems(s), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Problem,
    testing::Values(
        Case{"EmptyTableCountsAsOneSignal",
             [](Settings& s) {
                 s.signals.clear();
                 s.channel_a_settings.modulation_source.internal = 1;
             },
             {"channel_a_settings.modulation_source.internal: signal 1 does not exist; the table is empty "
              "(save adds 1 signal, the constant 0.0)"}},
        Case{"ExternalInputsNone",
             [](Settings& s) {
                 s.machine_config.num_external_signal_sources = 0;
                 s.channel_a_settings.amplitude1_source = {7, 0, true};  // internal 7 not in force
             },
             {"channel_a_settings.amplitude1_source.external: external input 0 does not exist; the machine has 0 "
              "external inputs"}},
        Case{"MixedCycleMembersOnly",
             [](Settings& s) {
                 s.signals.push_back(mixed(0, 3));  // 2 -> 3 -> 4 -> 2
                 s.signals.push_back(mixed(4, 1));
                 s.signals.push_back(mixed(2, 0));
                 s.signals.push_back(mixed(2, 3));  // 5 leads into the cycle but is not on it
                 s.signals.push_back(mixed(5, 5));  // 6 shares parts twice: no cycle
             },
             {"signals[2].b_idx: mixed signal 2 refers to itself through signal 3",
              "signals[3].a_idx: mixed signal 3 refers to itself through signal 4",
              "signals[4].a_idx: mixed signal 4 refers to itself through signal 2"}},
        Case{"OneSampleOfMany",
             [](Settings& s) { s.signals.push_back(sig::Signal{sig::ArbitrarySignalParams{sig::Samples(1, 7)}}); },
             {"signals[2].samples: 1 sample, but the session of 60.0 s has 300000"}},
        Case{"LongerThanTheSession",
             [](Settings& s) { s.signals.push_back(sig::Signal{sig::ArbitrarySignalParams{sig::Samples(300001, 7)}}); },
             {"signals[2].samples: 300001 samples, but the session of 60.0 s has 300000"}},
        Case{"EntryAtTheCoilsLimit",
             [](Settings& s) {
                 auto& coil = s.machine_config.coils[0];
                 coil.max_carrier_frequency = coil.settings[0].carrier_frequency;
             },
             {}},
        Case{"InductanceNotANumber",  // the tuning entries cannot be judged against it, and are not
             [](Settings& s) { s.machine_config.coils[0].inductance = std::nan(""); },
             {"machine_config.coils[0].inductance: NaN is not finite"}},
        Case{"CoilMissingSettingNotJudged",
             [](Settings& s) {
                 s.channel_a_settings.coil_idx = 1;  // the number of coils
                 s.channel_a_settings.coil_setting_idx = 9;
             },
             {"channel_a_settings.coil_idx: coil 1 does not exist; the machine has 1 coil"}},
        Case{"SecondCoilsTable",
             [](Settings& s) {
                 auto coil = s.machine_config.coils[0];
                 coil.settings.push_back(coil.settings[0]);
                 s.machine_config.coils.push_back(coil);
                 s.channel_a_settings.coil_idx = 1;
                 s.channel_a_settings.coil_setting_idx = 1;
                 s.channel_b_settings.coil_setting_idx = 3;  // channel B is off
             },
             {}},
        Case{"TuningEntryEditedByHand",
             [](Settings& s) {
                 auto& entry = s.machine_config.coils[0].settings[0];
                 entry.carrier_frequency = 30.0;
                 entry.clk_ticks_per_sample = 220;
                 entry.capacitor_bank_setting = 0;
             },
             {"machine_config.coils[0].settings[0].carrier_frequency: 30.0, but capacitance 330.0 and the coil's "
              "inductance 150.0 give 22.624434389140273",
              "machine_config.coils[0].settings[0].clk_ticks_per_sample: 220, but capacitance 330.0 and the coil's "
              "inductance 150.0 give 221",
              "machine_config.coils[0].settings[0].capacitor_bank_setting: 0, but positions in the list of candidate "
              "capacitances start at 1"}},
        Case{"TunedTablesPass",
             [](Settings& s) {
                 const double candidates[] = {100.0, 220.0, 330.0, 470.0};  // the first is rejected
                 s.machine_config.coils.push_back(
                     std::get<protocols::lcsettings::Coil>(protocols::lcsettings::Coil::make("Four", candidates, 150.0, 0.1, 40.0)));
                 s.channel_a_settings.enabled = true;
                 s.channel_a_settings.coil_idx = 1;
                 s.channel_a_settings.coil_setting_idx = 2;
             },
             {}},
        Case{"CarrierLimitsAndSafety",
             [](Settings& s) {
                 s.machine_config.max_carrier_frequency = 20.0;
                 s.machine_config.coils[0].max_carrier_frequency = 21.0;
                 s.machine_config.coils[0].settings[0].carrier_frequency = 22.0;  // reported as edited too
                 s.machine_config.safety_checks_enabled = false;
             },
             {"machine_config.coils[0].max_carrier_frequency: 21.0 is above machine_config.max_carrier_frequency 20.0",
              "machine_config.coils[0].settings[0].carrier_frequency: 22.0, but capacitance 330.0 and the coil's "
              "inductance 150.0 give 22.624434389140273",
              "machine_config.safety_checks_enabled: false: the stimulator will not apply its own safety checks",
              "channel_a_settings.coil_setting_idx: tuning entry 0 of coil 0 runs at 22.0 kHz, above "
              "machine_config.coils[0].max_carrier_frequency 21.0",
              "channel_a_settings.coil_setting_idx: tuning entry 0 of coil 0 runs at 22.0 kHz, above "
              "machine_config.max_carrier_frequency 20.0"}},
        Case{"FieldOrder",
             [](Settings& s) {
                 s.channel_b_settings.enabled = true;
                 s.channel_b_settings.amplitude1_source.internal = 5;
                 s.channel_a_settings.coil_idx = 2;
                 s.channel_a_settings.amplitude1_source.internal = 5;
                 s.signals.push_back(mixed(9, 0));
                 s.intensity = 1.0;
             },
             {"intensity: 1.0 is above machine_config.max_intensity_setpoint 0.3",
              "signals[2].a_idx: signal 9 does not exist; the table has 3 signals",
              "channel_a_settings.amplitude1_source.internal: signal 5 does not exist; the table has 3 signals",
              "channel_a_settings.coil_idx: coil 2 does not exist; the machine has 1 coil",
              "channel_b_settings.amplitude1_source.internal: signal 5 does not exist; the table has 3 signals"}}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

// A cycle long enough to overflow a recursive walk.
TEST(Problems, LongChainsOfMixedSignals) {
    constexpr std::uint64_t n = 300000;
    Settings s = two_sines();
    s.signals.clear();
    for (std::uint64_t i = 0; i < n; ++i) s.signals.push_back(mixed((i + 1) % n, (i + 1) % n));
    EXPECT_EQ(find_problems(s).size(), 2 * n);  // every signal, both fields
    s.signals.back() = sig::Signal{sig::ConstantSignalParams{1.0}};
    EXPECT_EQ(find_problems(s), Problems{});
}

}  // namespace
