#include <gtest/gtest.h>

#include <functional>
#include <string>
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

std::string case_name(const testing::TestParamInfo<Case>& info) { return info.param.name; }

Settings two_sines() {
    Settings s = Settings::make_default();
    s.signals = {sig::Signal{sig::SineSignalParams{1.0, 10.0, 0.0, 1.0}},
                 sig::Signal{sig::SineSignalParams{0.5, 5.0, 0.0, 1.0}}};
    return s;
}

sig::Signal mixed(std::uint64_t a, std::uint64_t b) { return sig::Signal{sig::MixedSignalParams{a, b}}; }

class Rule : public testing::TestWithParam<Case> {};

TEST_P(Rule, ReportsExactlyTheExpectedProblems) {
    Settings s = two_sines();
    GetParam().change(s);
    EXPECT_EQ(find_problems(s), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    InternalSource, Rule,
    testing::Values(
        Case{"PastTheEnd", [](Settings& s) { s.channel_a_settings.amplitude2_source.internal = 3; },
             {"channel_a_settings.amplitude2_source.internal: signal 3 does not exist; the table has 2 signals"}},
        Case{"LastSignal", [](Settings& s) { s.channel_a_settings.modulation_source.internal = 1; }, {}},
        Case{"DisabledChannel", [](Settings& s) { s.channel_b_settings.amplitude1_source.internal = 9; }, {}},
        Case{"ExternalInForce",
             [](Settings& s) {
                 s.channel_a_settings.amplitude1_source = {9, 0, true};
             },
             {}},
        Case{"EmptyTableCountsAsOneSignal",
             [](Settings& s) {
                 s.signals.clear();
                 s.channel_b_settings.enabled = true;
                 s.channel_b_settings.modulation_source.internal = 1;
             },
             {"channel_b_settings.modulation_source.internal: signal 1 does not exist; the table is empty "
              "(save adds 1 signal, the constant 0.0)"}},
        Case{"EmptyTableSignalZero", [](Settings& s) { s.signals.clear(); }, {}}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    ExternalSource, Rule,
    testing::Values(
        Case{"AtTheCount",
             [](Settings& s) {
                 s.channel_b_settings.enabled = true;
                 s.channel_b_settings.amplitude2_source = {0, 6, true};
             },
             {"channel_b_settings.amplitude2_source.external: external input 6 does not exist; the machine has 6 "
              "external inputs"}},
        Case{"NoInputs",
             [](Settings& s) {
                 s.machine_config.num_external_signal_sources = 0;
                 s.channel_a_settings.amplitude1_source = {0, 0, true};
             },
             {"channel_a_settings.amplitude1_source.external: external input 0 does not exist; the machine has 0 "
              "external inputs"}},
        Case{"LastInput", [](Settings& s) { s.channel_a_settings.amplitude1_source = {0, 5, true}; }, {}},
        Case{"NotInForce", [](Settings& s) { s.channel_a_settings.amplitude1_source = {0, 40, false}; }, {}}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    MixedSignal, Rule,
    testing::Values(
        Case{"PastTheEnd", [](Settings& s) { s.signals.push_back(mixed(0, 7)); },
             {"signals[2].b_idx: signal 7 does not exist; the table has 3 signals"}},
        Case{"Itself", [](Settings& s) { s.signals.push_back(mixed(2, 1)); },
             {"signals[2].a_idx: mixed signal 2 refers to itself"}},
        Case{"Cycle",
             [](Settings& s) {
                 s.signals.push_back(mixed(0, 3));  // 2 -> 3 -> 4 -> 2
                 s.signals.push_back(mixed(4, 1));
                 s.signals.push_back(mixed(2, 0));
                 s.signals.push_back(mixed(2, 3));  // 5 leads into the cycle but is not on it
             },
             {"signals[2].b_idx: mixed signal 2 refers to itself through signal 3",
              "signals[3].a_idx: mixed signal 3 refers to itself through signal 4",
              "signals[4].a_idx: mixed signal 4 refers to itself through signal 2"}},
        Case{"SharedParts",
             [](Settings& s) {
                 s.signals.push_back(mixed(0, 1));
                 s.signals.push_back(mixed(0, 1));
                 s.signals.push_back(mixed(2, 3));
                 s.signals.push_back(mixed(4, 4));
             },
             {}},
        Case{"LaterSignal",
             [](Settings& s) {
                 s.signals.push_back(mixed(3, 0));
                 s.signals.push_back(sig::Signal{sig::ConstantSignalParams{0.5}});
             },
             {}}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    ArbitraryLength, Rule,
    testing::Values(
        Case{"DurationChanged",
             [](Settings& s) {
                 s.session_duration = 1.0;
                 s.signals.push_back(sig::Signal{sig::ArbitrarySignalParams{sig::Samples(5000, 7)}});
                 s.session_duration = 2.5;
             },
             {"signals[2].samples: 5000 samples, but the session of 2.5 s has 12500"}},
        Case{"OneSample",
             [](Settings& s) { s.signals.push_back(sig::Signal{sig::ArbitrarySignalParams{sig::Samples(1, 7)}}); },
             {"signals[2].samples: 1 sample, but the session of 60.0 s has 300000"}},
        Case{"Matching",
             [](Settings& s) {
                 s.session_duration = 0.0123;  // 62 samples
                 s.signals.push_back(sig::Signal{sig::ArbitrarySignalParams{sig::Samples(62, 7)}});
             },
             {}}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    Coil, Rule,
    testing::Values(
        Case{"CoilMissing", [](Settings& s) { s.channel_a_settings.coil_idx = 1; },
             {"channel_a_settings.coil_idx: coil 1 does not exist; the machine has 1 coil"}},
        Case{"CoilMissingSettingNotJudged",
             [](Settings& s) {
                 s.channel_a_settings.coil_idx = 4;
                 s.channel_a_settings.coil_setting_idx = 9;
             },
             {"channel_a_settings.coil_idx: coil 4 does not exist; the machine has 1 coil"}},
        Case{"EntryMissing", [](Settings& s) { s.channel_a_settings.coil_setting_idx = 1; },
             {"channel_a_settings.coil_setting_idx: tuning entry 1 does not exist; coil 0 has 1 entry"}},
        Case{"SecondCoilsTable",
             [](Settings& s) {
                 auto coil = s.machine_config.coils[0];
                 coil.settings.push_back(coil.settings[0]);
                 s.machine_config.coils.push_back(coil);
                 s.channel_b_settings.enabled = true;
                 s.channel_b_settings.coil_idx = 1;
                 s.channel_b_settings.coil_setting_idx = 1;
             },
             {}},
        Case{"DisabledChannel", [](Settings& s) { s.channel_b_settings.coil_idx = 3; }, {}}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    Intensity, Rule,
    testing::Values(Case{"AboveLimit", [](Settings& s) { s.intensity = 0.30000000000000004; },
                         {"intensity: 0.30000000000000004 is above machine_config.max_intensity_setpoint 0.3"}},
                    Case{"AtLimit", [](Settings& s) { s.intensity = 0.3; }, {}}),
    case_name);

TEST(Problems, ComeInFieldOrder) {
    Settings s = two_sines();
    s.channel_b_settings.enabled = true;
    s.channel_b_settings.amplitude1_source.internal = 5;
    s.channel_a_settings.coil_idx = 2;
    s.channel_a_settings.amplitude1_source.internal = 5;
    s.signals.push_back(mixed(9, 0));
    s.intensity = 1.0;
    const Problems problems = find_problems(s);
    ASSERT_EQ(problems.size(), 5u);
    const char* paths[] = {"intensity:", "signals[2].a_idx:", "channel_a_settings.amplitude1_source.internal:",
                           "channel_a_settings.coil_idx:", "channel_b_settings.amplitude1_source.internal:"};
    for (std::size_t i = 0; i < problems.size(); ++i) EXPECT_EQ(problems[i].rfind(paths[i], 0), 0u) << problems[i];
}

// A chain and a cycle long enough to overflow a recursive walk.
TEST(Problems, LongChainsOfMixedSignals) {
    constexpr std::uint64_t n = 300000;
    Settings s = two_sines();
    s.signals.clear();
    for (std::uint64_t i = 0; i < n; ++i) s.signals.push_back(mixed((i + 1) % n, (i + 1) % n));
    EXPECT_EQ(find_problems(s).size(), 2 * n);  // one cycle through every signal, both fields
    s.signals.back() = sig::Signal{sig::ConstantSignalParams{1.0}};
    EXPECT_EQ(find_problems(s), Problems{});
}

}  // namespace
