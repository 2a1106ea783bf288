#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "protocols/text/text_form.hpp"
#include "tests/cpp/helpers.hpp"

namespace {

using protocols::Protocol;
using protocols::settings::Settings;
namespace sig = protocols::signals;
namespace text = protocols::text;

// A protocol as the Python constructor makes it: defaults, then an empty signal table.
constexpr const char* kNewProtocol = R"text(Protocol {
    settings: Settings {
        running_on_target_machine: false,
        machine_config: MachineConfig {
            supply_voltage: 80.0,
            num_coils: 2,
            coils: [
                Coil {
                    name: "Default",
                    inductance: 150.0,
                    max_current: 0.1,
                    max_carrier_frequency: 40.0,
                    settings: [
                        LCSetting {
                            capacitance: 330.0,
                            carrier_frequency: 22.624434389140273,
                            clk_ticks_per_sample: 221,
                            capacitor_bank_setting: 1,
                        },
                    ],
                },
            ],
            capacitors: [
                330.0,
            ],
            possible_capacitances: [
                330.0,
            ],
            num_external_signal_sources: 6,
            smbus_psu_connected: false,
            num_temperature_sensors: 0,
            num_flow_rate_sensors: 0,
            safety_checks_enabled: true,
            max_intensity_setpoint: 0.3,
            max_current: 0.5,
            max_carrier_frequency: 40.0,
            max_temperature: 40.0,
            min_flowrate: 70.0,
            max_power: 520.0,
        },
        intensity: 0.0,
        session_duration: 60.0,
        signals: [],
        channel_a_settings: ChannelSettings {
            enabled: true,
            amplitude1_source: SignalSourceSelection {
                internal: 0,
                external: 0,
                external_selected: false,
            },
            amplitude2_source: SignalSourceSelection {
                internal: 0,
                external: 0,
                external_selected: false,
            },
            modulation_source: SignalSourceSelection {
                internal: 0,
                external: 0,
                external_selected: false,
            },
            coil_idx: 0,
            coil_setting_idx: 0,
        },
        channel_b_settings: ChannelSettings {
            enabled: false,
            amplitude1_source: SignalSourceSelection {
                internal: 0,
                external: 0,
                external_selected: false,
            },
            amplitude2_source: SignalSourceSelection {
                internal: 0,
                external: 0,
                external_selected: false,
            },
            modulation_source: SignalSourceSelection {
                internal: 0,
                external: 0,
                external_selected: false,
            },
            coil_idx: 0,
            coil_setting_idx: 0,
        },
        monitor_trace_visible: [
            false,
            false,
            false,
            false,
            false,
            false,
            false,
            false,
            false,
            false,
            false,
            false,
            false,
            false,
            false,
            false,
        ],
        monitor_subsampling_factor: 1,
    },
})text";

// The signals line of a protocol holding one signal of each kind.
constexpr const char* kFiveSignals = R"text(        signals: [
            Constant(
                ConstantSignalParams {
                    value: 0.5,
                },
            ),
            Sine(
                SineSignalParams {
                    amplitude: 1.0,
                    frequency: 10.0,
                    phase: 0.0,
                    depth: 1.0,
                },
            ),
            Ramp(
                RampSignalParams {
                    peak: 1.0,
                    up_duration: 2.5,
                    down_duration: 5e-5,
                },
            ),
            MixedSignal(
                MixedSignalParams {
                    a_idx: 0,
                    b_idx: 1,
                },
            ),
            Arbitrary(
                ArbitrarySignalParams {
                    samples: [
                        0,
                        16384,
                        32767,
                    ],
                },
            ),
        ],)text";

using test_helpers::TargetMachineVariable;

Protocol new_protocol(const char* target_env = nullptr) {
    TargetMachineVariable env(target_env);
    Protocol p{Settings::make_default()};
    p.settings.signals.clear();
    return p;
}

std::string replace_once(std::string s, const std::string& from, const std::string& to) {
    const auto at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) s.replace(at, from.size(), to);
    return s;
}

// render, render_into and measure must agree byte for byte.
std::string render_checked(const Protocol& p) {
    const std::string s = text::render(p);
    const auto size = text::measure(p);
    EXPECT_EQ(size.length, s.size());
    EXPECT_EQ(text::text_length(p), s.size());
    EXPECT_EQ(size.ascii, std::all_of(s.begin(), s.end(), [](char c) {
                  return static_cast<unsigned char>(c) < 0x80;
              }));
    std::vector<char> room(size.length + 8, '#');
    char* end = text::render_into(p, room.data());
    EXPECT_EQ(static_cast<std::size_t>(end - room.data()), size.length);
    EXPECT_EQ(std::string(room.data(), size.length), s);
    EXPECT_EQ(room[size.length], '#');  // nothing written past the measured end
    return s;
}

TEST(TextForm, NewProtocol) {
    const std::string s = render_checked(new_protocol());
    EXPECT_EQ(s, kNewProtocol);
    EXPECT_EQ(std::count(s.begin(), s.end(), '\n'), 103);  // 104 lines, no final line feed
    EXPECT_EQ(s.back(), '}');
    EXPECT_EQ(s.find('\r'), std::string::npos);
    EXPECT_TRUE(text::text_is_ascii(new_protocol()));
}

TEST(TextForm, OnTargetMachine) {
    const std::string expected =
        replace_once(kNewProtocol, "        running_on_target_machine: false,\n",
                     "        running_on_target_machine: true,\n");
    EXPECT_EQ(render_checked(new_protocol("")), expected);
}

TEST(TextForm, OneSignalOfEachKind) {
    Protocol p = new_protocol();
    sig::append(p.settings.signals, {sig::ConstantSignalParams{0.5}});
    sig::append(p.settings.signals, {sig::SineSignalParams{1.0, 10.0, 0.0, 1.0}});
    sig::append(p.settings.signals, {sig::RampSignalParams{1.0, 2.5, 0.00005}});
    sig::append(p.settings.signals, {sig::MixedSignalParams{0, 1}});
    sig::append(p.settings.signals, {sig::ArbitrarySignalParams{{0, 16384, 32767}}});
    const std::string expected =
        replace_once(kNewProtocol, "        signals: [],\n", std::string(kFiveSignals) + "\n");
    EXPECT_EQ(render_checked(p), expected);
}

TEST(TextForm, SavedEmptyTableShowsConstantZero) {
    Protocol p = new_protocol();
    sig::append(p.settings.signals, {sig::ConstantSignalParams{0.0}});
    EXPECT_NE(render_checked(p).find("        signals: [\n"
                                     "            Constant(\n"
                                     "                ConstantSignalParams {\n"
                                     "                    value: 0.0,\n"
                                     "                },\n"
                                     "            ),\n"
                                     "        ],\n"),
              std::string::npos);
}

TEST(TextForm, CoilNameIsEscaped) {
    protocols::lcsettings::Coil coil;
    coil.name = "say \"hi\"\nline e\xCC\x81 \xF0\x9F\x98\x80";
    coil.inductance = 150.0;
    coil.max_current = 0.1;
    coil.max_carrier_frequency = 40.0;
    coil.settings.push_back({330.0, 22.624434389140273, 221, 1});
    EXPECT_EQ(text::render_value(coil, 0),
              "Coil {\n"
              "    name: \"say \\\"hi\\\"\\nline e\\u{301} \xF0\x9F\x98\x80\",\n"
              "    inductance: 150.0,\n"
              "    max_current: 0.1,\n"
              "    max_carrier_frequency: 40.0,\n"
              "    settings: [\n"
              "        LCSetting {\n"
              "            capacitance: 330.0,\n"
              "            carrier_frequency: 22.624434389140273,\n"
              "            clk_ticks_per_sample: 221,\n"
              "            capacitor_bank_setting: 1,\n"
              "        },\n"
              "    ],\n"
              "}");

    Protocol p = new_protocol();
    p.settings.machine_config.coils.push_back(coil);
    const std::string s = render_checked(p);
    EXPECT_FALSE(text::text_is_ascii(p));
    EXPECT_NE(s.find("                    name: \"say \\\"hi\\\"\\nline e\\u{301} \xF0\x9F\x98\x80\",\n"),
              std::string::npos);
}

TEST(TextForm, ValuesAtDeeperLevels) {
    EXPECT_EQ(text::render_value(protocols::settings::SignalSourceSelection{7, 2, true}, 2),
              "SignalSourceSelection {\n"
              "            internal: 7,\n"
              "            external: 2,\n"
              "            external_selected: true,\n"
              "        }");
    EXPECT_EQ(text::render_value(std::vector<double>{330.0}, 1), "[\n        330.0,\n    ]");
    EXPECT_EQ(text::render_value(std::vector<double>{}, 3), "[]");
    EXPECT_EQ(text::render_value(sig::Samples{-5, 12}, 0), "[\n    -5,\n    12,\n]");
    EXPECT_EQ(text::render_value(sig::Signal{sig::MixedSignalParams{7, 9}}, 1),
              "MixedSignal(\n"
              "        MixedSignalParams {\n"
              "            a_idx: 7,\n"
              "            b_idx: 9,\n"
              "        },\n"
              "    )");
    EXPECT_EQ(text::render_value(std::uint64_t{18446744073709551615u}), "18446744073709551615");
}

TEST(TextForm, MonitorTracesAlwaysSixteenLines) {
    Protocol p = new_protocol();
    p.settings.monitor_trace_visible[3] = true;
    const std::string s = text::render_value(p.settings.monitor_trace_visible, 2);
    EXPECT_EQ(std::count(s.begin(), s.end(), '\n'), 17);
    EXPECT_NE(s.find("[\n            false,\n            false,\n            false,\n            true,\n"),
              std::string::npos);
}

// Sample lines are the bulk of a big protocol; their measured size must match exactly.
class SampleSizeTest : public ::testing::TestWithParam<std::vector<std::int16_t>> {};

TEST_P(SampleSizeTest, MeasureMatchesRendering) {
    Protocol p = new_protocol();
    const auto& values = GetParam();
    sig::append(p.settings.signals, {sig::ArbitrarySignalParams{sig::Samples(values.begin(), values.end())}});
    sig::append(p.settings.signals, {sig::SineSignalParams{0.1, 1e-7, -0.0, 1e300}});
    const std::string s = render_checked(p);
    for (const std::int16_t v : GetParam())
        EXPECT_NE(s.find("\n                        " + std::to_string(v) + ",\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Samples, SampleSizeTest,
    ::testing::Values(std::vector<std::int16_t>{0}, std::vector<std::int16_t>{9, 10, 99, 100},
                      std::vector<std::int16_t>{999, 1000, 9999, 10000, 32767},
                      std::vector<std::int16_t>{-1, -9, -10, -99, -100, -9999, -10000, -32768},
                      std::vector<std::int16_t>{0, 16384, 32767, 3277, 9, 10, 99, -32768}));

TEST(TextForm, ManySamples) {
    Protocol p = new_protocol();
    sig::Samples samples(300000);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>((i * 7919) % 65536 - 32768);
    sig::append(p.settings.signals, {sig::ArbitrarySignalParams{std::move(samples)}});
    const std::string s = render_checked(p);
    EXPECT_GT(s.size(), 300000u * 27);
}

// The summary writes each sample list as one line and leaves the rest of the text as it is.
struct SummaryCase {
    sig::Samples samples;
    std::string line;
};

class SampleSummaryTest : public ::testing::TestWithParam<SummaryCase> {};

TEST_P(SampleSummaryTest, OneLinePerSampleList) {
    Protocol p = new_protocol();
    sig::append(p.settings.signals, {sig::ArbitrarySignalParams{GetParam().samples}});
    sig::append(p.settings.signals, {sig::SineSignalParams{0.1, 1e-7, -0.0, 1e300}});
    const std::string full = text::render(p);
    const std::string summary = text::render(p, text::SampleLists::summary);
    EXPECT_EQ(text::measure(p, text::SampleLists::summary).length, summary.size());
    const auto from = full.find("samples: ") + 9;
    const auto to = full.find(']', from) + 1;
    EXPECT_EQ(summary, full.substr(0, from) + GetParam().line + full.substr(to));
}

INSTANTIATE_TEST_SUITE_P(
    Samples, SampleSummaryTest,
    // The digests are zlib.crc32 of the samples as little-endian int16 bytes.
    ::testing::Values(SummaryCase{{0, 16384, 32767}, "<3 samples, min 0, max 32767, crc32 92c6bdbc>"},
                      SummaryCase{{7}, "<1 sample, min 7, max 7, crc32 0e988438>"},
                      SummaryCase{{}, "<0 samples>"},
                      SummaryCase{{12, -32768, 4, 32767, -3}, "<5 samples, min -32768, max 32767, crc32 e78979fd>"}));

}  // namespace
