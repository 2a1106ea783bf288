#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "protocols/rules/value_rules.hpp"
#include "protocols/record.hpp"
#include "protocols/settings.hpp"
#include "protocols/walker.hpp"

namespace {

namespace sig = protocols::signals;
using protocols::settings::Settings;

// Notes the path of each scalar and of each signal's kind, and sets every scalar it reads to
// `next`, counting up; throws at the path `stop`. It writes only the leaves: the descent into
// records, lists, flags and signals, and the positions on the path, are the base's.
struct PathRecorder : protocols::Walker<PathRecorder> {
    protocols::FieldPath path;
    std::vector<std::string> seen;
    std::string stop;
    std::uint64_t next = 1;

    void note() {
        seen.push_back(path.text());
        if (seen.back() == stop) throw std::runtime_error("stop");
    }
    template <class T>
    void scalar(T& value) {
        note();
        value = static_cast<T>(next++);
    }
    void text(std::string&) { note(); }
    void samples(sig::Samples&) { note(); }
    std::size_t kind(sig::Signal&) {
        note();
        return 3;  // a mixed signal
    }
};

TEST(Walk, KeepsThePathOfEachFieldAndReadsASignalFlat) {
    protocols::settings::ChannelSettings channel;
    PathRecorder r;
    protocols::visit(r, channel.amplitude2_source);
    EXPECT_EQ(r.seen, (std::vector<std::string>{"internal", "external", "external_selected"}));
    sig::SignalTable table(1);
    r.seen.clear();
    protocols::visit(r, table);
    EXPECT_EQ(r.seen, (std::vector<std::string>{"[0].kind", "[0].a_idx", "[0].b_idx"}));
    const auto& mixed = std::get<sig::MixedSignalParams>(table[0].params);
    EXPECT_EQ(mixed.a_idx + 1, mixed.b_idx);
    // Positions past the first, in a list inside a record.
    Settings s;
    s.signals.resize(2);
    r.seen.clear();
    protocols::visit(r, s);
    EXPECT_NE(std::find(r.seen.begin(), r.seen.end(), "signals[1].b_idx"), r.seen.end());
    EXPECT_NE(std::find(r.seen.begin(), r.seen.end(), "monitor_trace_visible[1]"), r.seen.end());
}

TEST(Walk, PathStillNamesTheFieldAThrowLeft) {
    Settings s;
    PathRecorder r;
    r.stop = "monitor_trace_visible[1]";
    EXPECT_THROW(protocols::visit(r, s), std::runtime_error);
    EXPECT_EQ(r.path.text(), "monitor_trace_visible[1]");
}

TEST(ValueRules, JudgeTheMemberTheyBelongTo) {
    Settings s;
    s.intensity = 1.5;
    s.session_duration = 1.5;
    EXPECT_EQ(protocols::rules::field_problem(s, s.intensity), "value 1.5 outside 0.0..1.0");
    EXPECT_EQ(protocols::rules::field_problem(s, s.session_duration), std::nullopt);
    const double copy = s.intensity;  // the same value, but no member of s
    EXPECT_EQ(protocols::rules::field_problem(s, copy), std::nullopt);
    s.session_duration = 0.0;
    EXPECT_EQ(protocols::rules::field_problem(s, s.session_duration), "value 0.0 outside 0.01..1800.0");
    s.signals.clear();
    EXPECT_EQ(protocols::rules::field_problem(s, s.signals), "empty signal table");
}

}  // namespace
