// The overview every view renders: what drives each row through mixes of any depth, the
// marks that follow it, and the texts; and the notebook summary drawn from it.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "protocols/view/html_summary.hpp"
#include "protocols/view/overview.hpp"

namespace {

using protocols::settings::Settings;
using protocols::view::Mark;
using protocols::view::overview;
using protocols::view::Overview;
namespace sig = protocols::signals;

sig::Signal mixed(std::uint64_t a, std::uint64_t b) { return sig::Signal{sig::MixedSignalParams{a, b}}; }

std::vector<std::uint64_t> drive(const Overview& o, std::size_t row) {
    std::vector<std::uint64_t> out;
    for (const auto& reached : o.rows[row].drive) out.push_back(reached.position);
    return out;
}

std::vector<std::string> marks(const Overview& o, const std::vector<std::size_t>& at) {
    std::vector<std::string> out;
    for (const std::size_t m : at) out.push_back(o.marks[m].text);
    return out;
}

// A sine with a negative frequency, reached from A1 and A2 only through a mix of a mix.
Settings mix_of_a_mix() {
    Settings s = Settings::make_default();
    s.signals = {sig::Signal{sig::SineSignalParams{1.0, -150.0, 0.0, 1.0}}, sig::Signal{sig::ConstantSignalParams{0.5}},
                 mixed(0, 1), mixed(2, 1), mixed(3, 3)};
    s.channel_a_settings.enabled = true;
    s.channel_a_settings.amplitude1_source.internal = 3;
    s.channel_a_settings.amplitude2_source.internal = 4;  // three mixes deep
    s.channel_a_settings.modulation_source.internal = 1;
    s.channel_b_settings.amplitude1_source.internal = 1;
    s.channel_b_settings.amplitude2_source.internal = 1;
    s.channel_b_settings.modulation_source.internal = 1;
    return s;
}

TEST(Overview, MarksFollowTheDriveThroughMixesOfAnyDepth) {
    const std::vector<Mark> findings = {{"signals[0].amplitude", "warning: too strong", true},
                                        {"signals[1]", "error: the constant", false},
                                        {"intensity", "error: too intense", false},
                                        {"signals[10]", "error: no such", false}};
    const Overview o = overview(mix_of_a_mix(), findings);
    const std::string negative = "signals[0].frequency: -150.0 is negative";
    EXPECT_EQ(drive(o, 0), (std::vector<std::uint64_t>{3, 2, 1, 0}));
    EXPECT_EQ(drive(o, 1), (std::vector<std::uint64_t>{4, 3, 2, 1, 0}));
    EXPECT_EQ(o.rows[1].drive.back().text, "sine #0: amplitude 1.0, frequency -150.0, phase 0.0, depth 1.0");
    for (const std::size_t row : {0, 1}) {
        EXPECT_EQ(marks(o, o.rows[row].marks),
                  (std::vector<std::string>{negative, "warning: too strong", "error: the constant"}));
    }
    EXPECT_EQ(marks(o, o.rows[2].marks), std::vector<std::string>{"error: the constant"});
    EXPECT_EQ(marks(o, o.intensity_marks), std::vector<std::string>{"error: too intense"});
    EXPECT_EQ(o.problem_count, 1u);
}

TEST(Overview, CyclesAndMissingPartsAreListedOnce) {
    Settings s = Settings::make_default();
    s.signals = {sig::Signal{sig::ConstantSignalParams{0.25}}, mixed(2, 0), mixed(1, 9), mixed(3, 9), mixed(9, 9)};
    s.channel_a_settings.amplitude1_source.internal = 1;
    s.channel_a_settings.amplitude2_source.internal = 3;
    s.channel_a_settings.modulation_source.internal = 4;
    const Overview o = overview(s);
    EXPECT_EQ(drive(o, 0), (std::vector<std::uint64_t>{1, 2, 0, 9}));
    EXPECT_FALSE(o.rows[0].drive.back().exists);
    EXPECT_EQ(o.rows[0].drive.back().text, "signal #9 does not exist");
    EXPECT_EQ(drive(o, 1), (std::vector<std::uint64_t>{3, 9}));
    EXPECT_EQ(drive(o, 2), (std::vector<std::uint64_t>{4, 9}));
    EXPECT_EQ(o.rows[0].text, "mixed #1: mix of #2 and #0");
    // A problem of the mix that names the missing part marks the row through the mix itself.
    EXPECT_EQ(marks(o, o.rows[2].marks).size(), 2u);
}

// A long cycle of mixes: every row reaches every signal, and every problem marks it, in time
// that grows with the table, not with its square.
TEST(Overview, LongChainsOfMixedSignals) {
    constexpr std::uint64_t n = 100000;
    Settings s = Settings::make_default();
    s.signals.clear();
    for (std::uint64_t i = 0; i < n; ++i) s.signals.push_back(mixed((i + 1) % n, n + i % 2));
    const Overview o = overview(s);
    EXPECT_EQ(o.rows[0].drive.size(), n + 2);  // the table, then the two missing positions
    EXPECT_EQ(o.rows[0].marks.size(), 2 * n);
}

TEST(Overview, SourcesCoilsAndTheHeaderAtTheirLimits) {
    Settings s = Settings::make_default();
    s.intensity = s.machine_config.max_intensity_setpoint;
    s.session_duration = 0.5;
    s.signals = {sig::Signal{sig::ArbitrarySignalParams{sig::Samples{3, 32767, 0}}},
                 sig::Signal{sig::RampSignalParams{1.0, 2.5, 5e-5}}};
    s.channel_a_settings.amplitude1_source = {0, 6, true};
    s.channel_a_settings.amplitude2_source = {0, 5, true};
    s.channel_a_settings.modulation_source.internal = 2;
    s.channel_a_settings.coil_idx = 1;  // the number of coils
    s.channel_b_settings.coil_setting_idx = 1;
    Overview o = overview(s);
    EXPECT_EQ(o.facts[0].text, "0.3 (within the machine's limit max_intensity_setpoint 0.3)");
    EXPECT_FALSE(o.intensity_above);
    EXPECT_EQ(o.facts[1].text, "0.5 s, 2500 samples at 5000.0 samples/s");
    EXPECT_EQ(o.facts[2].text, "coil #1 does not exist");
    EXPECT_EQ(o.facts[3].text, "coil \"Default\", tuning entry #1 does not exist");
    EXPECT_EQ(o.rows[0].text, "external input 6 does not exist: the machine has 6 (0 to 5)");
    EXPECT_FALSE(o.rows[0].exists);
    EXPECT_EQ(o.rows[1].text, "external input 5");
    EXPECT_TRUE(o.rows[1].exists);
    EXPECT_EQ(o.rows[2].text, "signal #2 does not exist: the table has 2 signals");
    EXPECT_EQ(o.signals[0].text, "arbitrary #0: 3 samples, min 0, max 32767");
    EXPECT_EQ(o.signals[0].note, "length mismatch: 3 samples (0.0006 s), the session has 2500 (0.5 s)");
    EXPECT_EQ(o.signals[1].text, "ramp #1: peak 1.0, up_duration 2.5, down_duration 5e-5");
    EXPECT_EQ(o.signals[1].note, "");

    s.machine_config.num_external_signal_sources = 0;
    s.intensity = std::nextafter(s.machine_config.max_intensity_setpoint, 1.0);
    s.signals.clear();
    s.channel_b_settings.coil_setting_idx = 0;
    o = overview(s);
    EXPECT_EQ(o.rows[1].text, "external input 5 does not exist: the machine has none");
    EXPECT_EQ(o.facts[0].text, "0.30000000000000004 (above the machine's limit max_intensity_setpoint 0.3)");
    EXPECT_TRUE(o.intensity_above);
    EXPECT_EQ(o.facts[3].text, "coil \"Default\", 330.0 nF, carrier 22.624434389140273 kHz");
    EXPECT_EQ(o.signals.size(), 1u);
    EXPECT_EQ(o.signals[0].text, "constant #0: value 0.0 (the signal save() adds to an empty table)");
    EXPECT_EQ(o.rows[3].text, o.signals[0].text);
}

TEST(HtmlSummary, EscapesAndShowsEachRowsDriveWithItsMarks) {
    Settings s = mix_of_a_mix();
    s.machine_config.coils[0].name = "&lt;";
    s.intensity = s.machine_config.max_intensity_setpoint;
    s.channel_a_settings.modulation_source = {0, 6, true};
    const std::vector<Mark> findings = {{"intensity", "warning: <high>", true}};
    const std::string html = protocols::view::html_summary(s, findings);
    EXPECT_NE(html.find("coil &quot;&amp;lt;&quot;"), std::string::npos) << html;
    EXPECT_NE(html.find("<td style=\"text-align:left;color:#c77800\">0.3 (within the machine&#x27;s limit "
                        "max_intensity_setpoint 0.3)<ul><li>warning: &lt;high&gt;</li></ul>"),
              std::string::npos)
        << html;
    EXPECT_NE(html.find("<th style=\"text-align:left\">A modulation</th><td style=\"text-align:left;color:#b00020\">"
                        "external input 6 does not exist: the machine has 6 (0 to 5)"),
              std::string::npos)
        << html;
    // A1: the chain down to the sine, and the sine's problem in the row's own cell, in red.
    EXPECT_NE(html.find("<th style=\"text-align:left\">A1</th><td style=\"text-align:left;color:#b00020\">mixed #3: "
                        "mix of #2 and #1<ul><li>mixed #2: mix of #0 and #1</li><li>constant #1: value 0.5</li>"
                        "<li>sine #0: amplitude 1.0, frequency -150.0, phase 0.0, depth 1.0</li></ul><ul>"
                        "<li>signals[0].frequency: -150.0 is negative</li></ul></td>"),
              std::string::npos)
        << html;
    // Channel B is disabled: its rows stay grey, marks and all.
    EXPECT_NE(html.find("<th style=\"text-align:left\">B1 (disabled)</th><td style=\"text-align:left;color:#8c8c8c\">"),
              std::string::npos)
        << html;
}

}  // namespace
