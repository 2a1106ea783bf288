// Every way of reading sample runs, forced in turn: each reads what the encoder writes, and
// comes to the scalar way's outcome (the same samples, or the same refusal at the same place)
// for damage at every byte of a run, wherever the blocks of the wider ways happen to cut it.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "encoding/sample_runs.hpp"
#include "protocols/file/record_decoding.hpp"
#include "protocols/file/record_encoding.hpp"
#include "tests/fuzz/round_trip_law.hpp"
#include "tests/cpp/helpers.hpp"

namespace {

using encoding::SampleDecoding;
namespace file = protocols::file;
namespace sig = protocols::signals;
using Bytes = std::vector<std::uint8_t>;

// Samples of one, two and three bytes in random order.
sig::Samples mixed_samples(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    sig::Samples samples(n);
    for (auto& v : samples) {
        const unsigned size = random() % 3;
        v = static_cast<std::int16_t>(size == 0 ? random() % 64 : size == 1 ? 64 + random() % 8128 : 8192 + random() % 24576);
    }
    return samples;
}

Bytes file_with(const sig::Samples& samples) {
    auto s = protocols::settings::Settings::make_default();
    s.signals = {sig::Signal{sig::ArbitrarySignalParams{samples}}};
    const encoding::Bytes b = file::encode(s);
    return {b.begin(), b.end()};
}

class SampleDecodings : public testing::TestWithParam<SampleDecoding> {
protected:
    void SetUp() override {
        if (!encoding::runs_here(GetParam())) {
            GTEST_SKIP() << "this processor does not run the " << encoding::name_of(GetParam()) << " instructions";
        }
    }
};

TEST_P(SampleDecodings, ReadWhatTheEncoderWrites) {
    const fuzz::UsingSampleDecoding way(GetParam());
    ASSERT_TRUE(way.ok());
    for (const std::size_t n : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 33u, 47u, 64u, 95u, 4095u, 4096u, 10'007u, 100'003u}) {
        const sig::Samples samples = mixed_samples(n, static_cast<unsigned>(n));
        const auto decoded = file::decode(file_with(samples));
        EXPECT_EQ(std::get<sig::ArbitrarySignalParams>(decoded.signals.at(0).params).samples, samples) << n;
    }
}

// Damages the byte at `at` in several ways and checks that the way under test agrees.
void expect_agreement_on_damage(SampleDecoding way, const Bytes& good, std::size_t at) {
    const auto agrees = [&](const Bytes& bytes) {
        return fuzz::outcome_with(way, bytes) == fuzz::outcome_with(SampleDecoding::scalar, bytes);
    };
    {
        for (const std::uint8_t value : {0x00, 0x01, 0x03, 0x04, 0x7f, 0x80, 0x83, 0xff}) {
            Bytes bytes = good;
            bytes[at] = value;
            EXPECT_TRUE(agrees(bytes)) << "byte " << at << " set to " << int(value);
        }
        Bytes flipped = good;
        flipped[at] ^= 0x80;
        EXPECT_TRUE(agrees(flipped)) << "continuation of byte " << at << " flipped";
        Bytes longer = good;
        longer.insert(longer.begin() + static_cast<long>(at), 0x80);
        EXPECT_TRUE(agrees(longer)) << "0x80 inserted at " << at;
        Bytes shorter = good;
        shorter.erase(shorter.begin() + static_cast<long>(at));
        EXPECT_TRUE(agrees(shorter)) << "byte " << at << " taken out";
    }
}

TEST_P(SampleDecodings, FindWhatTheScalarWayFinds) {
    const Bytes good = file_with(mixed_samples(130, 5));
    const std::size_t first = 154;  // after the table count, the kind and a two-byte sample count
    // Each byte of the run and the first bytes after it.
    for (std::size_t at = first; at < good.size() - 40; ++at) expect_agreement_on_damage(GetParam(), good, at);
}

// A long run is read in two halves by one way: damage around where the second half starts,
// and at either end.
TEST_P(SampleDecodings, FindWhatTheScalarWayFindsInLongRuns) {
    const sig::Samples samples = mixed_samples(5000, 9);
    const Bytes good = file_with(samples);
    const std::size_t first = 154;
    std::size_t middle = first;  // where sample 2500 starts
    for (std::size_t i = 0; i < 2500; ++i) middle += test_helpers::sample_size(samples[i]);
    for (std::size_t at = middle - 40; at < middle + 40; ++at) expect_agreement_on_damage(GetParam(), good, at);
    for (const std::size_t at : {first, first + 1, good.size() - 52, good.size() - 50}) {
        expect_agreement_on_damage(GetParam(), good, at);
    }
}

INSTANTIATE_TEST_SUITE_P(Ways, SampleDecodings, testing::ValuesIn(encoding::all_sample_decodings),
                         [](const auto& info) { return std::string(encoding::name_of(info.param)); });

}  // namespace
