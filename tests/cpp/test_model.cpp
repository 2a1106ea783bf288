// Coil tuning, the default protocol and the sampling rule.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "protocols/log.hpp"
#include "protocols/settings.hpp"
#include "tests/cpp/helpers.hpp"

using namespace protocols;
using lcsettings::Coil;
using lcsettings::LCSetting;

namespace {

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

std::variant<Coil, VORAError> tune(std::vector<double> candidates, double limit, double inductance = 150.0) {
    return Coil::make("Test", candidates, inductance, 0.1, limit);
}

}  // namespace

TEST(CoilTuning, DefaultCoilMatchesTheWorkedExample) {
    const Coil coil = Coil::make_default();
    EXPECT_EQ(coil.name, "Default");
    EXPECT_EQ(coil.inductance, 150.0);
    EXPECT_EQ(coil.max_current, 0.1);
    EXPECT_EQ(coil.max_carrier_frequency, 40.0);
    ASSERT_EQ(coil.settings.size(), 1u);
    EXPECT_EQ(coil.settings[0], (LCSetting{330.0, 22.624434389140273, 221, 1}));
}

TEST(CoilTuning, SortsDescendingAndCountsRejectedCandidates) {
    auto made = tune({100.0, 220.0, 330.0, 470.0}, 40.0);
    ASSERT_TRUE(std::holds_alternative<Coil>(made));
    const auto& table = std::get<Coil>(made).settings;
    const std::vector<LCSetting> expected = {
        {470.0, 18.93939393939394, 264, 4},
        {330.0, 22.624434389140273, 221, 3},
        {220.0, 27.77777777777778, 180, 2},
    };
    EXPECT_EQ(table, expected);
}

TEST(CoilTuning, RejectedCandidateFrequency) {
    EXPECT_EQ(lcsettings::tune(150.0, 100.0, 1), (LCSetting{100.0, 40.983606557377044, 122, 1}));
}

TEST(CoilTuning, EqualTickCountsPutTheLaterCandidateFirst) {
    auto made = tune({330.0, 330.0}, 40.0);
    ASSERT_TRUE(std::holds_alternative<Coil>(made));
    const auto& table = std::get<Coil>(made).settings;
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[0].capacitor_bank_setting, 2u);
    EXPECT_EQ(table[1].capacitor_bank_setting, 1u);
}

struct Refusal {
    const char* label;
    std::vector<double> candidates;
    double limit;
};

class CoilTuningRefusal : public testing::TestWithParam<Refusal> {};

TEST_P(CoilTuningRefusal, YieldsConfigError) {
    auto made = tune(GetParam().candidates, GetParam().limit);
    ASSERT_TRUE(std::holds_alternative<VORAError>(made));
    EXPECT_EQ(std::get<VORAError>(made), VORAError::ConfigError);
}

INSTANTIATE_TEST_SUITE_P(Cases, CoilTuningRefusal,
                         testing::Values(Refusal{"empty", {}, 40.0},
                                         Refusal{"above_limit", {100.0}, 40.0},
                                         Refusal{"nan_limit", {330.0, 470.0}, NaN},
                                         Refusal{"zero_capacitance", {0.0}, 1e300}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(CoilTuning, LimitEqualToTheFrequencyAccepts) {
    auto made = tune({330.0}, 22.624434389140273);
    EXPECT_TRUE(std::holds_alternative<Coil>(made));
}

TEST(CoilTuning, DegenerateProductsGiveZeroTicksAndInfiniteFrequency) {
    for (double capacitance : {0.0, -1.0, NaN}) {
        const LCSetting s = lcsettings::tune(150.0, capacitance, 1);
        EXPECT_EQ(s.clk_ticks_per_sample, 0u) << capacitance;
        EXPECT_EQ(s.carrier_frequency, INF) << capacitance;
    }
    auto made = tune({0.0}, INF);
    ASSERT_TRUE(std::holds_alternative<Coil>(made));
    EXPECT_EQ(std::get<Coil>(made).settings[0].clk_ticks_per_sample, 0u);
}

TEST(CoilTuning, HugeTickCountsSaturate) {
    // A vanishing resonant frequency gives a tick count beyond 2^64, which saturates.
    const LCSetting s = lcsettings::tune(1e300, 1e300, 1);
    EXPECT_EQ(s.clk_ticks_per_sample, std::numeric_limits<std::uint64_t>::max());
}

TEST(CoilTuning, RefusalIsLoggedOnlyWhenAHostAsks) {
    std::vector<std::string> seen;
    log::set_logger([&](log::Level level, std::string_view target, std::string_view message) {
        EXPECT_EQ(level, log::Level::Error);
        EXPECT_EQ(target, "protocols::lcsettings");
        seen.emplace_back(message);
    });
    (void)tune({}, 40.0);
    EXPECT_TRUE(seen.empty()) << "the maximum level is off by default";
    log::set_max_level(log::Level::Error);
    (void)tune({}, 40.0);
    log::set_max_level(log::Level::Off);
    log::set_logger(nullptr);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], "No valid carrier frequency can be calculated for coil Test");
}

TEST(VORAErrorNames, TextFormIsTheVariantName) {
    EXPECT_EQ(name_of(VORAError::ConfigError), "ConfigError");
    EXPECT_EQ(name_of(VORAError::OverCoilCurrent), "OverCoilCurrent");
    EXPECT_EQ(name_of(VORAError::Unintialized), "Unintialized");
}

TEST(DefaultSettings, MatchesTheDocumentedDefaults) {
    const test_helpers::TargetMachineVariable unset(nullptr);
    const auto s = settings::Settings::make_default();
    EXPECT_FALSE(s.running_on_target_machine);
    EXPECT_EQ(s.intensity, 0.0);
    EXPECT_EQ(s.session_duration, 60.0);
    ASSERT_EQ(s.signals.size(), 1u);
    ASSERT_TRUE(std::holds_alternative<signals::ConstantSignalParams>(s.signals[0].params));
    EXPECT_TRUE(s.channel_a_settings.enabled);
    EXPECT_FALSE(s.channel_b_settings.enabled);
    for (bool v : s.monitor_trace_visible) EXPECT_FALSE(v);
    EXPECT_EQ(s.monitor_subsampling_factor, 1u);
    const auto& m = s.machine_config;
    EXPECT_EQ(m.num_coils, 2u);
    EXPECT_EQ(m.coils.size(), 1u);
    EXPECT_EQ(m.capacitors, std::vector<double>{330.0});
    EXPECT_EQ(m.possible_capacitances, std::vector<double>{330.0});
    EXPECT_EQ(m.num_external_signal_sources, 6u);
    EXPECT_TRUE(m.safety_checks_enabled);
    EXPECT_EQ(m.max_power, 520.0);
    EXPECT_EQ(signals::num_samples(s.session_duration), 300000u);
}

struct EnvCase {
    const char* label;
    const char* value;  // nullptr: unset
    bool expected;
};

class TargetMachine : public testing::TestWithParam<EnvCase> {};

TEST_P(TargetMachine, ReadAtEachConstruction) {
    const test_helpers::TargetMachineVariable variable(GetParam().value);
    EXPECT_EQ(settings::Settings::make_default().running_on_target_machine, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, TargetMachine,
                         testing::Values(EnvCase{"unset", nullptr, false}, EnvCase{"empty", "", true},
                                         EnvCase{"text", "yes", true}, EnvCase{"utf8", "\xc3\xa9", true},
                                         EnvCase{"invalid_utf8", "\xff", false},
                                         EnvCase{"surrogate", "\xed\xa0\x80", false},
                                         EnvCase{"overlong", "\xc0\xaf", false}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(SampleCount, FollowsTheCeilingOfDurationTimesRate) {
    const std::pair<double, std::uint64_t> cases[] = {
        {60.0, 300000}, {0.01, 50}, {1800.0, 9000000}, {1.00001, 5001}, {0.0123, 62}, {0.07, 351},
        {1e300, std::numeric_limits<std::uint64_t>::max()}, {INF, std::numeric_limits<std::uint64_t>::max()},
    };
    for (auto [duration, expected] : cases) EXPECT_EQ(signals::num_samples(duration), expected) << duration;
}

TEST(SampleCount, RefusesDurationsNotAboveZero) {
    for (double d : {0.0, -0.0, -1.0, NaN}) {
        try {
            (void)signals::num_samples(d);
            ADD_FAILURE() << d;
        } catch (const Failure& f) {
            EXPECT_STREQ(f.what(), "assertion failed: self.settings.session_duration > 0.0");
        }
    }
}

TEST(SignalTable, AppendReturnsPositions) {
    signals::SignalTable table;
    EXPECT_EQ(signals::append(table, signals::Signal{signals::MixedSignalParams{7, 9}}), 0u);
    EXPECT_EQ(signals::append(table, signals::Signal{signals::ConstantSignalParams{NaN}}), 1u);
    EXPECT_EQ(table.size(), 2u);
}
