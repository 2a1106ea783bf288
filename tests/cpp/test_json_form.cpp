#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "protocols/file/record_encoding.hpp"
#include "protocols/json/layout.hpp"
#include "protocols/json/reader.hpp"
#include "protocols/json/writer.hpp"
#include "tests/cpp/helpers.hpp"

namespace {

using protocols::settings::Settings;
namespace json = protocols::json;
namespace sig = protocols::signals;

std::string quote(std::string_view text) { return "'" + std::string(text) + "'"; }

// The defaults with three signals, odd floats and a name that needs escapes.
Settings sample_protocol() {
    Settings s = Settings::make_default();
    s.signals.clear();
    s.signals.push_back({sig::ConstantSignalParams{0.5}});
    s.signals.push_back({sig::SineSignalParams{HUGE_VAL, -0.0, 1e-7, std::nan("")}});
    sig::ArbitrarySignalParams arbitrary;
    arbitrary.samples = {0, 7, 32767};
    s.signals.push_back({std::move(arbitrary)});
    s.machine_config.coils[0].name = "a\"\\\n\x01\xc3\xa9";
    s.machine_config.capacitors = {0.00001, 1e16, -HUGE_VAL};
    return s;
}

constexpr const char* kSampleForm = R"json({
  "running_on_target_machine": false,
  "machine_config": {
    "supply_voltage": 80.0,
    "num_coils": 2,
    "coils": [
      {
        "name": "a\"\\\n\u0001é",
        "inductance": 150.0,
        "max_current": 0.1,
        "max_carrier_frequency": 40.0,
        "settings": [
          {
            "capacitance": 330.0,
            "carrier_frequency": 22.624434389140273,
            "clk_ticks_per_sample": 221,
            "capacitor_bank_setting": 1
          }
        ]
      }
    ],
    "capacitors": [0.00001,1e16,"-Infinity"],
    "possible_capacitances": [330.0],
    "num_external_signal_sources": 6,
    "smbus_psu_connected": false,
    "num_temperature_sensors": 0,
    "num_flow_rate_sensors": 0,
    "safety_checks_enabled": true,
    "max_intensity_setpoint": 0.3,
    "max_current": 0.5,
    "max_carrier_frequency": 40.0,
    "max_temperature": 40.0,
    "min_flowrate": 70.0,
    "max_power": 520.0
  },
  "intensity": 0.0,
  "session_duration": 60.0,
  "signals": [
    {
      "kind": "Constant",
      "value": 0.5
    },
    {
      "kind": "Sine",
      "amplitude": "Infinity",
      "frequency": -0.0,
      "phase": 1e-7,
      "depth": "NaN"
    },
    {
      "kind": "Arbitrary",
      "samples": [0,7,32767]
    }
  ],
  "channel_a_settings": {
    "enabled": true,
    "amplitude1_source": {
      "internal": 0,
      "external": 0,
      "external_selected": false
    },
    "amplitude2_source": {
      "internal": 0,
      "external": 0,
      "external_selected": false
    },
    "modulation_source": {
      "internal": 0,
      "external": 0,
      "external_selected": false
    },
    "coil_idx": 0,
    "coil_setting_idx": 0
  },
  "channel_b_settings": {
    "enabled": false,
    "amplitude1_source": {
      "internal": 0,
      "external": 0,
      "external_selected": false
    },
    "amplitude2_source": {
      "internal": 0,
      "external": 0,
      "external_selected": false
    },
    "modulation_source": {
      "internal": 0,
      "external": 0,
      "external_selected": false
    },
    "coil_idx": 0,
    "coil_setting_idx": 0
  },
  "monitor_trace_visible": [false,false,false,false,false,false,false,false,false,false,false,false,false,false,false,false],
  "monitor_subsampling_factor": 1
}
)json";

std::string file_bytes(const Settings& s) { return test_helpers::hex(protocols::file::encode(s).span()); }
std::string read_back(const std::string& text) { return file_bytes(json::read_json(text, quote)); }

TEST(JsonForm, WritesTheFormExportWrites) {
    EXPECT_EQ(json::to_json(sample_protocol()), kSampleForm);
    const std::string lines = json::to_json(sample_protocol(), {2});
    EXPECT_NE(lines.find("\n      \"samples\": [\n        0,7,\n        32767\n      ]\n"), std::string::npos);
    EXPECT_EQ(lines.size(), json::json_size(sample_protocol(), {2}));
    Settings empty = sample_protocol();
    std::get<sig::ArbitrarySignalParams>(empty.signals[2].params).samples.clear();
    EXPECT_NE(json::to_json(empty, {2}).find("\"samples\": []\n"), std::string::npos);
}

TEST(JsonForm, ReadsBackWhatItWrites) {
    Settings s = sample_protocol();
    std::get<sig::SineSignalParams>(s.signals[1].params).depth = 0.25;  // a NaN's bits are not kept
    const std::string bytes = file_bytes(s);
    for (const auto per_line : {std::optional<std::size_t>{}, std::optional<std::size_t>{1}, std::optional<std::size_t>{2}}) {
        EXPECT_EQ(read_back(json::to_json(s, {per_line})), bytes);
    }
    // Any spacing, key order and spelling of the same values.
    std::string other = json::to_json(s);
    other.replace(other.find("[0,7,32767]"), 11, "[ 0 , 7.0e0 ,32767 ]");
    EXPECT_THROW(read_back(other), json::Refusal);  // 7.0e0 is a float, not a sample
    other = json::to_json(s);
    other.replace(other.find("[0,7,32767]"), 11, "[\t0 ,\r\n7, 32767 ]");
    other.replace(other.find("\"value\": 0.5"), 12, "\"v\\u0061lue\": 5e-1");
    EXPECT_EQ(read_back(other), bytes);
}

// The message and the offset of the refusal of text.
std::pair<std::string, std::size_t> refusal(const std::string& text) {
    try {
        json::read_json(text, quote);
    } catch (const json::Refusal& r) {
        return {r.what(), r.offset().value_or(SIZE_MAX)};
    }
    return {"accepted", 0};
}

TEST(JsonForm, RefusesWhatIsNotJsonWithItsLineAndColumn) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "Expecting value (line 1, column 1)"},
        {"{\"a\": 1,\n \"b\": [1,]}", "Expecting value (line 2, column 10)"},
        {"{\"a\":", "Expecting value (line 1, column 6)"},
        {"{\"a\" 1}", "Expecting ':' delimiter (line 1, column 6)"},
        {"{\"a\": 1 \"b\"}", "Expecting ',' delimiter (line 1, column 9)"},
        {"{1: 2}", "Expecting property name enclosed in double quotes (line 1, column 2)"},
        {"{} {}", "Extra data (line 1, column 4)"},
        {"{\"\xc3\xa9\": NaN}", "Expecting value (line 1, column 7)"},
        {"{\"a\": \"b", "Unterminated string starting at (line 1, column 7)"},
        {"{\"a\": \"\tb\"}", "Invalid control character at (line 1, column 8)"},
        {"{\"a\": \"\\x\"}", "Invalid \\escape (line 1, column 8)"},
        {"{\"a\": \"\\u12G4\"}", "Invalid \\uXXXX escape (line 1, column 9)"},
        {"{\"a\":\n \"ab\xff\"}", "not UTF-8 (line 2, column 5)"},
        {"{\"a\": \"\\ud83d\\ude00\",\n \"b\": \"\\ud83d\"}", "\\ud83d is half of a surrogate pair (line 2, column 8)"},
        {"{\"a\": \"\\uDE00\"}", "\\uDE00 is half of a surrogate pair (line 1, column 8)"},
        {"{\"a\":\n  1e400}", "Number out of range (line 2, column 3)"},
        {"{\"a\": [0.0, -1.5e999]}", "Number out of range (line 1, column 13)"},
        // Grammar first: a number out of range counts only in a text that is JSON.
        {"{\"a\": 1e400,}", "Expecting property name enclosed in double quotes (line 1, column 13)"},
        {"{\"a\": [[[[[[[1]]]]]]]}", "nested too deeply (line 1, column 13)"},
    };
    for (const auto& [text, reason] : cases) EXPECT_EQ(refusal(text).first, "not JSON: " + reason) << text;
    EXPECT_EQ(refusal("{\"a\":\n  1e400}").second, 8u);
    EXPECT_EQ(refusal("{\"a\": 1e-400}").first, "unknown key 'a'");  // too small is 0.0
}

TEST(JsonForm, RefusesAKeyGivenTwiceByItsName) {
    const std::string form = json::to_json(sample_protocol());
    std::string text = form;
    text.insert(text.find("\"coil_idx\"", text.find("channel_b_settings")), "\"coil_idx\": 0, ");
    EXPECT_EQ(refusal(text).first, "duplicate key 'coil_idx' for channel_b_settings");
    text = form;
    text.insert(text.find("\"value\""), "\"v\\u0061lue\": 0, ");
    EXPECT_EQ(refusal(text).first, "duplicate key 'value' for signals[0]");
    EXPECT_EQ(refusal("{\"intensity\": 1, \"intensity\": 1}").first, "duplicate key 'intensity'");
    // A text that is not JSON is refused as such first.
    EXPECT_EQ(refusal("{\"a\": 1, \"a\": 1").first, "not JSON: Expecting ',' delimiter (line 1, column 16)");
}

// The form of sample_protocol() with `from` replaced by `to` once.
std::string edited(const std::string& from, const std::string& to) {
    std::string text = json::to_json(sample_protocol());
    text.replace(text.find(from), from.size(), to);
    return refusal(text).first;
}

TEST(JsonForm, RefusesWhatIsNotAProtocolAsFromDictDoes) {
    EXPECT_EQ(edited("\"intensity\": 0.0", "\"intensity\": 1.5"), "value 1.5 outside 0.0..1.0 for intensity");
    EXPECT_EQ(edited("\"intensity\": 0.0", "\"intensity\": \"NaN\""), "value NaN outside 0.0..1.0 for intensity");
    EXPECT_EQ(edited("\"intensity\": 0.0", "\"intensity\": true"), "expected a float or an int, got bool True for intensity");
    EXPECT_EQ(edited("\"intensity\": 0.0,", ""), "missing key for intensity");
    EXPECT_EQ(edited("\"intensity\"", "\"intensify\""), "unknown key 'intensify'");
    EXPECT_EQ(edited("\"num_coils\": 2", "\"num_coils\": -0"), "accepted");
    EXPECT_EQ(edited("\"num_coils\": 2", "\"num_coils\": 18446744073709551616"),
              "value 18446744073709551616 outside 0..18446744073709551615 for machine_config.num_coils");
    EXPECT_EQ(edited("\"num_coils\": 2", "\"num_coils\": " + std::string(5000, '9')),
              "value <16610-bit int> outside 0..18446744073709551615 for machine_config.num_coils");
    EXPECT_EQ(edited("\"num_coils\": 2", "\"num_coils\": -" + std::string(100000, '9')),
              "value <negative 332193-bit int> outside 0..18446744073709551615 for machine_config.num_coils");
    EXPECT_EQ(edited("\"supply_voltage\": 80.0", "\"supply_voltage\": 1" + std::string(400, '0')),
              "value <1329-bit int> too large for a float for machine_config.supply_voltage");
    EXPECT_EQ(edited("\"num_coils\": 2", "\"num_coils\": [2]"), "expected an int, got list for machine_config.num_coils");
    EXPECT_EQ(edited("\"kind\": \"Sine\"", "\"kind\": 5"), "expected a str, got int 5 for signals[1].kind");
    EXPECT_EQ(edited("\"kind\": \"Sine\"", "\"kind\": \"Cosine\""), "unknown signal kind 'Cosine' for signals[1].kind");
    EXPECT_EQ(edited("\"kind\": \"Sine\",", ""), "missing key for signals[1].kind");
    EXPECT_EQ(edited("\"value\": 0.5", "\"value\": 0.5, \"amplitude\": 1"), "unknown key 'amplitude' for signals[0]");
    EXPECT_EQ(edited("[false,false,", "[false,"), "expected 16 flags, got 15 for monitor_trace_visible");
    EXPECT_EQ(edited("[0,7,32767]", "[0,7,32768]"), "sample 32768 outside 0..32767 for signals[2].samples[2]");
    EXPECT_EQ(edited("[0,7,32767]", "[0, -7 ,32767]"), "sample -7 outside 0..32767 for signals[2].samples[1]");
    EXPECT_EQ(edited("[0,7,32767]", "[0,7,1e0]"), "expected an int, got float 1.0 for signals[2].samples[2]");
    EXPECT_EQ(edited("[0,7,32767]", "[0,null]"), "expected an int, got None for signals[2].samples[1]");
    EXPECT_EQ(edited("[0,7,32767]", "{}"), "expected a list, got dict for signals[2].samples");
    EXPECT_EQ(edited("\"session_duration\": 60.0", "\"session_duration\": \"" + std::string(41, 'x') + "\""),
              "expected a float or an int, got str for session_duration");
}

// Both roads of a sample list, the one for the spelling export writes and the general one,
// give the same samples and the same refusals.
TEST(JsonForm, SampleListsReadTheSameOnBothRoads) {
    const auto outcome = [](const std::string& list) {
        std::string text = json::to_json(sample_protocol());
        text.replace(text.find("[0,7,32767]"), 11, list);
        try {
            return read_back(text);
        } catch (const json::Refusal& r) {
            return std::string(r.what());
        }
    };
    std::string long_list = "[";
    for (int i = 0; i < 300; ++i) long_list.append(i ? "," : "").append(std::to_string(i * 109 % 32768));
    for (std::string list : {long_list, std::string("[1,2,40000"), std::string("[0")}) {
        list += ']';
        std::string spaced = list;
        for (std::size_t at = spaced.find(','); at != std::string::npos; at = spaced.find(',', at + 2)) {
            spaced.insert(at + 1, 1, ' ');
        }
        EXPECT_EQ(outcome(list), outcome(spaced));
    }
    Settings expected = sample_protocol();
    auto& samples = std::get<sig::ArbitrarySignalParams>(expected.signals[2].params).samples;
    samples.clear();
    for (int i = 0; i < 300; ++i) samples.push_back(static_cast<std::int16_t>(i * 109 % 32768));
    EXPECT_EQ(outcome(long_list + "]"), file_bytes(expected));
}

TEST(JsonLayout, ListsEveryPathWithItsKind) {
    const auto& layout = json::layout();
    const auto kind = [&](const std::string& path) {
        for (const auto& [p, k] : layout) {
            if (p == path) return k;
        }
        return std::string("none");
    };
    EXPECT_EQ(layout.front(), (std::pair<std::string, std::string>{"", "record"}));
    EXPECT_EQ(kind("intensity"), "number");
    EXPECT_EQ(kind("signals[*]"), "record");
    EXPECT_EQ(kind("signals[*].kind"), "text");
    EXPECT_EQ(kind("signals[*].samples"), "samples");
    EXPECT_EQ(kind("signals[*].samples[*]"), "number");
    EXPECT_EQ(kind("machine_config.coils[*].settings[*].clk_ticks_per_sample"), "number");
    EXPECT_EQ(kind("monitor_trace_visible"), "list");
    EXPECT_EQ(kind("monitor_trace_visible[*]"), "flag");
    EXPECT_EQ(kind("machine_config.coils[*].name"), "text");
    EXPECT_EQ(json::layout_depth(), 6u);
}

}  // namespace
