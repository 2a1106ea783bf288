#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "protocols/file/record_decoding.hpp"
#include "protocols/file/record_encoding.hpp"
#include "protocols/settings.hpp"
#include "tests/cpp/helpers.hpp"

namespace {

using protocols::file::decode;
using protocols::file::DecodeFailure;
using protocols::file::encode;
using protocols::settings::Settings;
namespace sig = protocols::signals;
using Bytes = std::vector<std::uint8_t>;

Bytes file_of(const Settings& s) {
    const encoding::Bytes b = encode(s);
    return {b.begin(), b.end()};
}

Settings with_signals(std::vector<sig::Signal> signals) {
    Settings s = Settings::make_default();
    s.signals = std::move(signals);
    return s;
}

Settings default_saved() { return with_signals({sig::Signal{sig::ConstantSignalParams{0.0}}}); }

Settings every_kind() {
    Settings s = with_signals({
        sig::Signal{sig::ConstantSignalParams{0.25}},
        sig::Signal{sig::SineSignalParams{1.0, 10.0, -0.0, 0.5}},
        sig::Signal{sig::RampSignalParams{1.0, 2.0, 3.0}},
        sig::Signal{sig::MixedSignalParams{0, 1u << 20}},
        sig::Signal{sig::ArbitrarySignalParams{{0, 1, 127, 128, 8191, 8192, 32767}}},
    });
    s.machine_config.coils.at(0).name = "Spule \xc3\xa4";
    s.channel_b_settings.modulation_source.external_selected = true;
    s.monitor_trace_visible[15] = true;
    s.monitor_subsampling_factor = ~std::uint64_t{0};
    return s;
}

// Decodes bytes that must be refused and returns the failure.
DecodeFailure refused(const Bytes& bytes) {
    try {
        (void)decode(bytes);
    } catch (const DecodeFailure& failure) {
        return failure;
    }
    ADD_FAILURE() << "accepted";
    return DecodeFailure("", 0, "");
}

TEST(Decoder, RoundTripsWhatTheEncoderWrites) {
    sig::Samples long_samples(100'003);
    std::mt19937 random(7);
    for (auto& v : long_samples) v = static_cast<std::int16_t>(random() % 32768);
    std::vector<sig::Signal> many(300, sig::Signal{sig::MixedSignalParams{3, 4}});
    for (const Settings& s : {default_saved(), every_kind(), with_signals(std::move(many)),
                              with_signals({sig::Signal{sig::ArbitrarySignalParams{long_samples}}})}) {
        const Bytes bytes = file_of(s);
        EXPECT_EQ(file_of(decode(bytes)), bytes);
    }
}

TEST(Decoder, EveryTruncationIsRefusedWithItsOffset) {
    const Bytes whole = file_of(every_kind());
    for (std::size_t n = 0; n < whole.size(); ++n) {
        const DecodeFailure f = refused(Bytes(whole.begin(), whole.begin() + static_cast<long>(n)));
        const std::string what = f.what();
        // Cut inside a list, the count is refused before any element is read.
        EXPECT_TRUE(what.starts_with("truncated") || what.starts_with("count ")) << what;
        EXPECT_LE(f.offset(), n);
    }
}

struct BadCase {
    const char* label;
    std::size_t at;        // byte of the default file where the damage starts
    std::size_t replaced;  // bytes taken out there
    Bytes replacement;     // bytes put in instead
    const char* message;
    const char* path;
};

class Refusal : public testing::TestWithParam<BadCase> {};

TEST_P(Refusal, NamesProblemFieldAndOffset) {
    const BadCase& c = GetParam();
    Bytes bytes = file_of(default_saved());
    bytes.erase(bytes.begin() + static_cast<long>(c.at), bytes.begin() + static_cast<long>(c.at + c.replaced));
    bytes.insert(bytes.begin() + static_cast<long>(c.at), c.replacement.begin(), c.replacement.end());
    const DecodeFailure f = refused(bytes);
    EXPECT_EQ(std::string(f.what()), c.message);
    EXPECT_EQ(f.path(), c.path);
}

// Byte offsets of the default saved file: 0 on-target flag, 9 num_coils, 10 coil count,
// 11 name length, 134 intensity, 142 duration, 150 signal count, 151 kind, 160 channel A.
INSTANTIATE_TEST_SUITE_P(
    Decoder, Refusal,
    testing::Values(
        BadCase{"bool", 0, 1, {0x02}, "invalid bool byte 0x02 for running_on_target_machine at byte 0",
                "running_on_target_machine"},
        BadCase{"padded_varint", 9, 1, {0x82, 0x00}, "varint not in shortest form for machine_config.num_coils at byte 9",
                "machine_config.num_coils"},
        BadCase{"u64_overflow", 9, 1, {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x02},
                "varint overflows u64 for machine_config.num_coils at byte 9", "machine_config.num_coils"},
        BadCase{"coil_count", 10, 1, {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x10},
                "count 1152921504606846976 exceeds what the 190 bytes left can hold for machine_config.coils at byte 10",
                "machine_config.coils"},
        BadCase{"utf8", 12, 1, {0xff}, "invalid UTF-8 for machine_config.coils[0].name at byte 12",
                "machine_config.coils[0].name"},
        BadCase{"intensity", 141, 1, {0x40}, "value 2.0 outside 0.0..1.0 for intensity at byte 134", "intensity"},
        BadCase{"duration", 149, 1, {0xc0}, "value -60.0 outside 0.01..1800.0 for session_duration at byte 142",
                "session_duration"},
        BadCase{"kind", 151, 1, {0x05}, "unknown signal kind 5 for signals[0].kind at byte 151", "signals[0].kind"},
        BadCase{"trace", 184 + 3, 1, {0x03}, "invalid bool byte 0x03 for monitor_trace_visible[3] at byte 187",
                "monitor_trace_visible[3]"},
        BadCase{"leftover", 201, 0, {0x00, 0x00}, "2 bytes left over after the protocol at byte 201", ""}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(Decoder, EmptySignalTableIsRefused) {
    Bytes bytes = file_of(default_saved());
    bytes.erase(bytes.begin() + 150, bytes.begin() + 160);
    bytes.insert(bytes.begin() + 150, 0x00);
    EXPECT_STREQ(refused(bytes).what(), "empty signal table for signals at byte 150");
}

// Samples are read in blocks without a branch per byte; a malformed or negative sample
// anywhere must still be found exactly, in the bulk part and in the careful tail.
TEST(Decoder, MalformedSampleFoundAtItsPosition) {
    const sig::Samples samples(10'000, 300);  // two bytes each
    const Bytes good = file_of(with_signals({sig::Signal{sig::ArbitrarySignalParams{samples}}}));
    const std::size_t first = 154;  // after the table count, the kind and a two-byte sample count
    struct Damage {
        std::size_t index;
        Bytes bytes;
        const char* message;
    };
    for (const Damage& d : {
             Damage{0, {0x80, 0x00}, "varint not in shortest form"},
             Damage{4095, {0x80, 0x00}, "varint not in shortest form"},
             Damage{9999, {0x80, 0x00}, "varint not in shortest form"},
             Damage{4096, {0x01, 0x00}, "sample -1 outside 0..32767"},
             Damage{9999, {0x03, 0x00}, "sample -2 outside 0..32767"},
             Damage{17, {0xff, 0xff}, "varint overflows i16"},  // runs into the next sample's bytes
         }) {
        Bytes bytes = good;
        std::copy(d.bytes.begin(), d.bytes.end(), bytes.begin() + static_cast<long>(first + 2 * d.index));
        const DecodeFailure f = refused(bytes);
        EXPECT_EQ(std::string(f.what()).rfind(d.message, 0), 0u) << f.what();
        EXPECT_EQ(f.path(), "signals[0].samples[" + std::to_string(d.index) + "]");
        EXPECT_EQ(f.offset(), first + 2 * d.index);
    }
}

// Long runs are read as two halves at once; a problem in either half, or one that moves where
// the second half starts, is still found at its exact position.
TEST(Decoder, LongRunsReadInHalvesFindProblemsExactly) {
    sig::Samples samples(50'001);
    std::mt19937 random(3);
    for (auto& v : samples) v = static_cast<std::int16_t>(random() % 32768);
    const std::vector<std::size_t> damaged{3, 25'000, 25'001, 49'999};
    for (const std::size_t index : damaged) samples[index] = 100;  // two bytes: d0 01
    const Bytes good = file_of(with_signals({sig::Signal{sig::ArbitrarySignalParams{samples}}}));
    EXPECT_EQ(file_of(decode(good)), good);
    const std::size_t first = 155;  // after the table count, the kind and a three-byte count
    std::vector<std::size_t> starts{first};  // byte offset of each sample
    for (const std::int16_t v : samples) starts.push_back(starts.back() + test_helpers::sample_size(v));
    for (const std::size_t index : damaged) {
        Bytes padded = good;  // a needless continuation byte: every later sample moves by one
        padded[starts[index + 1] - 1] |= 0x80;
        padded.insert(padded.begin() + static_cast<long>(starts[index + 1]), 0x00);
        const DecodeFailure f = refused(padded);
        EXPECT_STREQ(f.what(), ("varint not in shortest form for signals[0].samples[" + std::to_string(index) +
                                "] at byte " + std::to_string(starts[index]))
                                   .c_str());
        Bytes negative = good;  // a one-byte sample made odd: negative
        negative[starts[index]] = 0x01;
        negative.erase(negative.begin() + static_cast<long>(starts[index]) + 1,
                       negative.begin() + static_cast<long>(starts[index + 1]));
        negative.insert(negative.begin() + static_cast<long>(starts[index]) + 1,
                        starts[index + 1] - starts[index] - 1, 0x00);  // the rest as zero samples
        const std::string what = refused(negative).what();
        EXPECT_EQ(what.rfind("sample -1 outside 0..32767 for signals[0].samples[" + std::to_string(index) + "]", 0), 0u)
            << what;
    }
}

TEST(Decoder, SampleLimitAndCountBeforeAllocation) {
    // Count 9,000,001 with no samples behind it: refused by the bytes left, not allocated.
    Bytes bytes = file_of(with_signals({sig::Signal{sig::ArbitrarySignalParams{{}}}}));
    bytes.erase(bytes.begin() + 152);
    const Bytes count = {0xc1, 0xa8, 0xa5, 0x04};  // 9,000,001
    bytes.insert(bytes.begin() + 152, count.begin(), count.end());
    EXPECT_NE(std::string(refused(bytes).what()).find("exceeds what the"), std::string::npos);
    // With the bytes present, the limit refuses it.
    bytes.insert(bytes.begin() + 156, 9'000'001, 0x00);
    EXPECT_STREQ(refused(bytes).what(),
                 "9000001 samples exceed the limit of 9000000 for signals[0].samples at byte 152");
}

}  // namespace
