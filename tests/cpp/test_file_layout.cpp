#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "protocols/file/record_encoding.hpp"
#include "protocols/settings.hpp"
#include "tests/cpp/helpers.hpp"

namespace {

using encoding::Encoder;
using protocols::file::encode;
using protocols::file::encode_value;
using protocols::settings::ChannelSettings;
using protocols::settings::Settings;
namespace sig = protocols::signals;

using test_helpers::hex;

template <class T>
std::string encoded(const T& value) {
    Encoder enc;
    encode_value(enc, value);
    return hex(std::move(enc).finish().span());
}

std::vector<std::uint8_t> file_bytes(const Settings& s) {
    const encoding::Bytes bytes = encode(s);
    EXPECT_EQ(bytes.size(), protocols::file::encoded_size(s));
    return {bytes.begin(), bytes.end()};
}

using test_helpers::TargetMachineVariable;

struct SignalCase {
    const char* label;
    sig::Signal signal;
    const char* bytes;
};

class SignalRecord : public testing::TestWithParam<SignalCase> {};

TEST_P(SignalRecord, VariantIndexThenPayload) {
    EXPECT_EQ(encoded(GetParam().signal), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    FileLayout, SignalRecord,
    testing::Values(
        SignalCase{"Constant", {sig::ConstantSignalParams{0.25}}, "00 00 00 00 00 00 00 d0 3f"},
        SignalCase{"Sine",
                   {sig::SineSignalParams{1.0, 10.0, 0.0, 0.5}},
                   "01 00 00 00 00 00 00 f0 3f 00 00 00 00 00 00 24 40 "
                   "00 00 00 00 00 00 00 00 00 00 00 00 00 00 e0 3f"},
        SignalCase{"Ramp",
                   {sig::RampSignalParams{1.0, 2.0, 3.0}},
                   "02 00 00 00 00 00 00 f0 3f 00 00 00 00 00 00 00 40 00 00 00 00 00 00 08 40"},
        SignalCase{"MixedSignal", {sig::MixedSignalParams{0, 1}}, "03 00 01"},
        SignalCase{"MixedSignalUncheckedPositions", {sig::MixedSignalParams{300, 7}}, "03 ac 02 07"},
        SignalCase{"Arbitrary", {sig::ArbitrarySignalParams{{0, -1, 1000}}}, "04 03 00 01 d0 0f"},
        SignalCase{"ArbitraryEmpty", {sig::ArbitrarySignalParams{}}, "04 00"},
        SignalCase{"ArbitraryExtremes", {sig::ArbitrarySignalParams{{32767, -32768}}},
                   "04 02 fe ff 03 ff ff 03"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(FileLayout, ArbitraryCountIsSamplesNotBytes) {
    sig::Signal s{sig::ArbitrarySignalParams{sig::Samples(200, 32767)}};
    Encoder enc;
    encode_value(enc, s);
    const auto bytes = std::move(enc).finish();
    ASSERT_EQ(bytes.size(), 1u + 2u + 3u * 200u);
    EXPECT_EQ(hex(bytes.span().first(6)), "04 c8 01 fe ff 03");
    EXPECT_EQ(hex(bytes.span().last(3)), "fe ff 03");
}

TEST(FileLayout, ChannelSettingsTwelveBytes) {
    ChannelSettings c;
    c.enabled = true;
    c.amplitude1_source.internal = 2;
    c.amplitude2_source.internal = 0;
    c.modulation_source.external = 1;
    c.modulation_source.external_selected = true;
    EXPECT_EQ(encoded(c), "01 02 00 00 00 00 00 00 01 01 00 00");
}

// The default protocol file, written out by hand: rows of 16 bytes.
const std::vector<std::uint8_t> default_file = {
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x54, 0x40, 0x02, 0x01, 0x07, 0x44, 0x65, 0x66, 0x61,
    0x75, 0x6c, 0x74, 0x00, 0x00, 0x00, 0x00, 0x00, 0xc0, 0x62, 0x40, 0x9a, 0x99, 0x99, 0x99, 0x99,
    0x99, 0xb9, 0x3f, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x44, 0x40, 0x01, 0x00, 0x00, 0x00, 0x00,
    0x00, 0xa0, 0x74, 0x40, 0xef, 0xda, 0x9f, 0xee, 0xda, 0x9f, 0x36, 0x40, 0xdd, 0x01, 0x01, 0x01,
    0x00, 0x00, 0x00, 0x00, 0x00, 0xa0, 0x74, 0x40, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0xa0, 0x74,
    0x40, 0x06, 0x00, 0x00, 0x00, 0x01, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0xd3, 0x3f, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0xe0, 0x3f, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x44, 0x40, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x44, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x51, 0x40, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x40, 0x80, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x4e, 0x40, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01,
};

void expect_same_bytes(const std::vector<std::uint8_t>& actual,
                       const std::vector<std::uint8_t>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(actual[i], expected[i]) << "byte " << i;
    }
}

TEST(FileLayout, DefaultProtocolFile) {
    ASSERT_EQ(default_file.size(), 201u);
    TargetMachineVariable unset(nullptr);
    expect_same_bytes(file_bytes(Settings::make_default()), default_file);
}

TEST(FileLayout, OnTargetMachineOnlyFirstByteDiffers) {
    std::vector<std::uint8_t> expected = default_file;
    expected[0] = 0x01;
    for (const char* value : {"", "1", "anything"}) {
        SCOPED_TRACE(value);
        TargetMachineVariable set(value);
        expect_same_bytes(file_bytes(Settings::make_default()), expected);
    }
}

TEST(FileLayout, ProtocolWrapperEncodesAsItsSettings) {
    TargetMachineVariable unset(nullptr);
    protocols::Protocol p{Settings::make_default()};
    Encoder enc;
    encode_value(enc, p);
    const auto bytes = std::move(enc).finish();
    expect_same_bytes({bytes.begin(), bytes.end()}, default_file);
}

TEST(FileLayout, ManySignalsTakeTwoCountBytes) {
    TargetMachineVariable unset(nullptr);
    Settings s = Settings::make_default();
    s.signals.assign(128, sig::Signal{sig::ConstantSignalParams{0.0}});
    const auto bytes = file_bytes(s);
    // Bytes before the table and after it are unchanged; the table is 2 + 128 * 9 bytes.
    ASSERT_EQ(bytes.size(), 201u - 10u + 2u + 128u * 9u);
    EXPECT_TRUE(std::equal(default_file.begin(), default_file.begin() + 150, bytes.begin()));
    EXPECT_EQ(bytes[150], 0x80);
    EXPECT_EQ(bytes[151], 0x01);
    for (std::size_t i = 0; i < 128; ++i) ASSERT_EQ(bytes[152 + 9 * i], 0x00) << "signal " << i;
    EXPECT_TRUE(std::equal(default_file.begin() + 160, default_file.end(),
                           bytes.end() - (201 - 160)));
}

TEST(FileLayout, EncodingTwiceGivesIdenticalBytes) {
    TargetMachineVariable unset(nullptr);
    Settings s = Settings::make_default();
    s.signals.push_back(sig::Signal{sig::ArbitrarySignalParams{{1, 2, 3, -4000}}});
    s.monitor_trace_visible[15] = true;
    EXPECT_EQ(file_bytes(s), file_bytes(s));
    const auto bytes = file_bytes(s);
    EXPECT_EQ(bytes.at(bytes.size() - 2), 0x01);  // last monitor flag, then the factor
}

}  // namespace
