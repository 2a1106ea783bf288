#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tests/fuzz/sample_list_law.hpp"

namespace {

std::vector<std::int16_t> read(const std::string& text) {
    std::vector<std::int16_t> out(protocols::json::sample_list_length(text));
    if (!protocols::json::read_sample_list(text, out)) out.assign({-1});
    return out;
}

// A list long enough for the block reader, with each sample's text given by `spell`.
template <class F>
std::string long_list(std::size_t n, F spell) {
    std::string text = "[";
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0) text += ',';
        text += spell(i);
    }
    return text + "]";
}

TEST(SampleList, ReadsTheSpellingExportWrites) {
    EXPECT_EQ(read("[0]"), (std::vector<std::int16_t>{0}));
    EXPECT_EQ(read("[32767,0,10,9,12345]"), (std::vector<std::int16_t>{32767, 0, 10, 9, 12345}));
    const std::string text = long_list(1000, [](std::size_t i) { return std::to_string(i * 37 % 32768); });
    const auto samples = read(text);
    ASSERT_EQ(samples.size(), 1000u);
    for (std::size_t i = 0; i < 1000; ++i) EXPECT_EQ(samples[i], static_cast<std::int16_t>(i * 37 % 32768));
}

TEST(SampleList, LeavesEveryOtherSpellingToTheGeneralReader) {
    for (const char* text : {"[]", "[ 1]", "[1 ]", "[1,]", "[,1]", "[1,,2]", "[01]", "[00]", "[-0]", "[+1]",
                             "[32768]", "[100000]", "[000001]", "[1.0]", "[1e2]", "1,2", "[1,2", "[\"1\"]"}) {
        EXPECT_EQ(read(text), (std::vector<std::int16_t>{-1})) << text;
    }
}

// Every kind of bad piece, at every position of a long list: the block reader and the byte
// reader meet at the end of the text, and either may be the one that sees it.
TEST(SampleList, AgreesWithThePlainReadingWherePiecesGoWrong) {
    const std::vector<std::string> bad = {"", "32768", "99999", "012", "0000", "123456", " 1", "1 ", "-1", "a", "1]"};
    for (const auto& piece : bad) {
        for (std::size_t at = 0; at < 40; ++at) {
            const std::string text = long_list(40, [&](std::size_t i) { return i == at ? piece : std::to_string(i * 811); });
            EXPECT_TRUE(fuzz::sample_list_law_holds(text)) << text;
            std::vector<std::int16_t> room(41);
            EXPECT_FALSE(protocols::json::read_sample_list(text, room));
        }
    }
}

// Samples so many to a line, each line indented: the breaks fall at every place of a block.
std::string in_lines(std::size_t n, std::size_t per_line, std::size_t indent, std::size_t (*value)(std::size_t)) {
    std::string feed(indent + 3, ' ');
    feed[0] = '\n';
    std::string text = "[";
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0) text += ',';
        if (i % per_line == 0) text += feed;
        text += std::to_string(value(i));
    }
    return text + feed.substr(0, indent + 1) + ']';
}

TEST(SampleList, ReadsSamplesWrittenSoManyToALine) {
    const auto value = [](std::size_t i) { return i * 811 % 32768; };
    for (std::size_t per_line = 1; per_line < 12; ++per_line) {
        for (std::size_t indent : {0, 1, 6, 61, 64, 70}) {
            const std::string text = in_lines(150, per_line, indent, value);
            const auto samples = read(text);
            ASSERT_EQ(samples.size(), 150u) << text;
            for (std::size_t i = 0; i < 150; ++i) ASSERT_EQ(samples[i], static_cast<std::int16_t>(value(i))) << text;
        }
    }
    EXPECT_EQ(read("[\n5]"), (std::vector<std::int16_t>{5}));
    EXPECT_EQ(read("[5\n]"), (std::vector<std::int16_t>{5}));
    for (const char* text : {"[\n]", "[1,\n]", "[1\n,2]", "[1,\n\n2]", "[1, \n2]", "[1,\n 2 ]", "[1,\r\n2]",
                             "[1,\t2]", "[1 \n]", "[1\n\n]", "[1,2\n ,3]", "[ \n1]"}) {
        EXPECT_EQ(read(text), (std::vector<std::int16_t>{-1})) << text;
    }
}

TEST(SampleList, AgreesWithThePlainReadingOnRandomTexts) {
    std::mt19937 random(7);
    const std::string alphabet = "0123456789,,,0 ]-\n";
    for (int round = 0; round < 40000; ++round) {
        const auto value = [](std::size_t i) { return i * 7919 % 40000; };
        const std::size_t n = random() % 40, per_line = 1 + random() % 5, indent = random() % 9;
        std::string text = round % 2 ? in_lines(n, per_line, indent, value)
                                     : long_list(n, [&](std::size_t) { return std::to_string(random() % 40000); });
        for (unsigned k = random() % 3; k > 0; --k) text[random() % text.size()] = alphabet[random() % alphabet.size()];
        ASSERT_TRUE(fuzz::sample_list_law_holds(text)) << text;
    }
}

// Each text in a heap block of exactly its own length, so that the sanitizer sees a read past
// the closing bracket (a string's terminating NUL and spare capacity would hide it).
TEST(SampleList, ReadsNoByteAfterTheClosingBracket) {
    for (std::size_t width = 1; width <= 5; ++width) {
        for (std::size_t n = 1; n < 80; ++n) {
            const std::string text = long_list(n, [&](std::size_t i) { return std::string(width, '1' + i % 2); });
            const auto exact = std::make_unique<char[]>(text.size());
            std::memcpy(exact.get(), text.data(), text.size());
            std::vector<std::int16_t> out(n);
            EXPECT_TRUE(protocols::json::read_sample_list({exact.get(), text.size()}, out)) << text;
            EXPECT_EQ(out.back(), std::stoi(std::string(width, '1' + (n - 1) % 2)));
        }
    }
}

// The JSON decoder refuses such a sample before it comes here; the block reader must as well.
TEST(SampleList, TwoDigitsWithALeadingZeroAreRefusedInWholeBlocks) {
    for (const char* piece : {"05", "00"}) {
        for (std::size_t at = 0; at < 20; ++at) {
            const std::string text = long_list(40, [&](std::size_t i) { return i == at ? piece : std::to_string(i * 811); });
            std::vector<std::int16_t> room(40);
            EXPECT_FALSE(protocols::json::read_sample_list(text, room)) << text;
        }
    }
}

}  // namespace
