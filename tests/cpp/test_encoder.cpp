#include "encoding/encoder.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>
#include "tests/cpp/helpers.hpp"

namespace {

using encoding::Encoder;

using test_helpers::hex;

template <class F>
std::string encoded(F&& append) {
    Encoder enc;
    append(enc);
    const encoding::Bytes bytes = std::move(enc).finish();
    return hex(bytes.span());
}

struct VarintCase {
    std::uint64_t value;
    const char* bytes;
    friend void PrintTo(const VarintCase& c, std::ostream* os) { *os << c.value; }
};

class Varint : public testing::TestWithParam<VarintCase> {};

TEST_P(Varint, ShortestForm) {
    const auto& c = GetParam();
    EXPECT_EQ(encoded([&](Encoder& e) { e.append_varint(c.value); }), c.bytes);
    EXPECT_EQ(encoded([&](Encoder& e) { e.append_seq_len(c.value); }), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Encoder, Varint,
    testing::Values(VarintCase{0, "00"}, VarintCase{1, "01"}, VarintCase{127, "7f"},
                    VarintCase{128, "80 01"}, VarintCase{221, "dd 01"}, VarintCase{16383, "ff 7f"},
                    VarintCase{16384, "80 80 01"}, VarintCase{2097152, "80 80 80 01"},
                    VarintCase{std::uint64_t{1} << 63, "80 80 80 80 80 80 80 80 80 01"},
                    VarintCase{std::numeric_limits<std::uint64_t>::max(),
                               "ff ff ff ff ff ff ff ff ff 01"}));

struct ZigzagCase {
    std::int16_t value;
    const char* bytes;
    friend void PrintTo(const ZigzagCase& c, std::ostream* os) { *os << c.value; }
};

class Zigzag : public testing::TestWithParam<ZigzagCase> {};

TEST_P(Zigzag, SingleAndBulkAgree) {
    const auto& c = GetParam();
    EXPECT_EQ(encoded([&](Encoder& e) { e.append_zigzag_i16(c.value); }), c.bytes);
    const std::int16_t one[] = {c.value};
    EXPECT_EQ(encoded([&](Encoder& e) { e.append_zigzag_i16s(one); }), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Encoder, Zigzag,
    testing::Values(ZigzagCase{0, "00"}, ZigzagCase{-1, "01"}, ZigzagCase{1, "02"},
                    ZigzagCase{63, "7e"}, ZigzagCase{-64, "7f"}, ZigzagCase{64, "80 01"},
                    ZigzagCase{-65, "81 01"}, ZigzagCase{1000, "d0 0f"},
                    ZigzagCase{-1000, "cf 0f"}, ZigzagCase{32767, "fe ff 03"},
                    ZigzagCase{-32768, "ff ff 03"}));

TEST(Encoder, ZigzagBulkMatchesSingleOverWholeRange) {
    std::vector<std::int16_t> all;
    for (int v = -32768; v <= 32767; ++v) all.push_back(static_cast<std::int16_t>(v));
    Encoder single;
    for (auto v : all) single.append_zigzag_i16(v);
    Encoder bulk;
    bulk.append_zigzag_i16s(all);
    const auto a = std::move(single).finish();
    const auto b = std::move(bulk).finish();
    ASSERT_EQ(a.size(), b.size());
    EXPECT_TRUE(std::equal(a.begin(), a.end(), b.begin()));
}

struct F64Case {
    double value;
    const char* bytes;
    friend void PrintTo(const F64Case& c, std::ostream* os) { *os << c.bytes; }
};

class F64 : public testing::TestWithParam<F64Case> {};

TEST_P(F64, LittleEndianBitForBit) {
    EXPECT_EQ(encoded([&](Encoder& e) { e.append_f64(GetParam().value); }), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Encoder, F64,
    testing::Values(
        F64Case{60.0, "00 00 00 00 00 00 4e 40"}, F64Case{0.1, "9a 99 99 99 99 99 b9 3f"},
        F64Case{-0.0, "00 00 00 00 00 00 00 80"}, F64Case{0.0, "00 00 00 00 00 00 00 00"},
        F64Case{-std::numeric_limits<double>::infinity(), "00 00 00 00 00 00 f0 ff"},
        // A signalling NaN with a payload and the sign bit set is kept as it is.
        F64Case{std::bit_cast<double>(std::uint64_t{0xfff0000000012345}),
                "45 23 01 00 00 00 f0 ff"}));

struct TextCase {
    std::string value;
    const char* bytes;
    friend void PrintTo(const TextCase& c, std::ostream* os) { *os << c.bytes; }
};

class Text : public testing::TestWithParam<TextCase> {};

TEST_P(Text, ByteCountThenBytes) {
    EXPECT_EQ(encoded([&](Encoder& e) { e.append_text(GetParam().value); }), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(Encoder, Text,
                         testing::Values(TextCase{"Default", "07 44 65 66 61 75 6c 74"},
                                         TextCase{"", "00"}, TextCase{"\xc3\xa9", "02 c3 a9"},
                                         TextCase{std::string("a\0b", 3), "03 61 00 62"}));

TEST(Encoder, LongTextCountTakesTwoBytes) {
    const std::string text(200, 'x');
    Encoder e;
    e.append_text(text);
    const auto bytes = std::move(e).finish();
    ASSERT_EQ(bytes.size(), 202u);
    EXPECT_EQ(bytes.data()[0], 0xc8);
    EXPECT_EQ(bytes.data()[1], 0x01);
    EXPECT_EQ(bytes.data()[201], 'x');
}

TEST(Encoder, BoolsVariantIndexAndSequenceOfFloats) {
    EXPECT_EQ(encoded([](Encoder& e) { e.append_bool(false); }), "00");
    EXPECT_EQ(encoded([](Encoder& e) { e.append_bool(true); }), "01");
    EXPECT_EQ(encoded([](Encoder& e) { e.append_variant_index(4); }), "04");
    EXPECT_EQ(encoded([](Encoder& e) { e.append_seq_len(0); }), "00");
    EXPECT_EQ(encoded([](Encoder& e) {
                  e.append_seq_len(2);
                  e.append_f64(1.0);
                  e.append_f64(0.1);
              }),
              "02 00 00 00 00 00 00 f0 3f 9a 99 99 99 99 99 b9 3f");
}

TEST(Encoder, EmptyEncoderFinishesEmpty) {
    Encoder e;
    const auto bytes = std::move(e).finish();
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(bytes.size(), 0u);
}

TEST(Encoder, GrowthKeepsEarlierBytesAcrossManyReallocations) {
    Encoder e;
    e.reserve(3);
    for (std::uint32_t i = 0; i < 100000; ++i) e.append_varint(i % 128);
    EXPECT_EQ(e.size(), 100000u);
    const auto bytes = std::move(e).finish();
    for (std::uint32_t i = 0; i < 100000; ++i) {
        ASSERT_EQ(bytes.data()[i], i % 128) << "at " << i;
    }
}

TEST(Encoder, MovedFromEncoderStartsAfresh) {
    Encoder a;
    a.append_varint(300);
    Encoder b = std::move(a);
    a.append_bool(true);  // NOLINT(bugprone-use-after-move): valid but unspecified is not enough
    EXPECT_EQ(hex(std::move(a).finish().span()), "01");
    EXPECT_EQ(hex(std::move(b).finish().span()), "ac 02");
}

TEST(Encoder, ImpossibleReservationThrowsBadAlloc) {
    Encoder e;
    e.append_bool(true);
    EXPECT_THROW(e.reserve(std::numeric_limits<std::size_t>::max()), std::bad_alloc);
    EXPECT_EQ(hex(e.written()), "01");  // still usable, nothing lost
}

// Lent room of the measured size takes the same bytes as a growing buffer, and the tail
// samples that leave no room for a word store are written byte by byte.
TEST(Encoder, LentRoomOfMeasuredSizeMatchesGrowingBuffer) {
    for (const std::vector<std::int16_t>& samples :
         {std::vector<std::int16_t>{}, {0}, {-1, 1000}, {32767, -32768, 5, 64, -65, 8191, -8192}}) {
        for (std::size_t prefix = 0; prefix < 3; ++prefix) {
            auto write = [&](auto& sink) {
                for (std::size_t i = 0; i < prefix; ++i) sink.append_varint(300);
                sink.append_zigzag_i16s(samples);
                sink.append_f64(0.5);
                sink.append_text("coil");
            };
            encoding::SizeCounter counter;
            write(counter);
            Encoder grown;
            write(grown);
            std::vector<std::uint8_t> room(counter.size());
            Encoder lent = Encoder::into(room);
            write(lent);
            ASSERT_EQ(lent.size(), room.size());
            EXPECT_EQ(hex(room), hex(grown.written()));
        }
    }
}

TEST(Encoder, LentRoomNeverGrows) {
    std::vector<std::uint8_t> room(2);
    Encoder lent = Encoder::into(room);
    lent.append_varint(300);
    EXPECT_THROW(lent.append_bool(true), std::length_error);
    const std::int16_t sample = 1000;
    EXPECT_THROW(lent.append_zigzag_i16s({&sample, 1}), std::length_error);
    EXPECT_EQ(hex(room), "ac 02");
}

}  // namespace
