#include <gtest/gtest.h>

#include <string>

#include "protocols/text/escape.hpp"
#include "protocols/text/quote.hpp"

namespace {



struct QuoteCase {
    const char* name;
    std::string input;
    std::string expected;
};

class QuoteTest : public ::testing::TestWithParam<QuoteCase> {};

TEST_P(QuoteTest, RendersAndSizes) {
    const auto& c = GetParam();
    EXPECT_EQ(protocols::text::quoted(c.input), c.expected);
    const auto size = protocols::text::quoted_size(c.input);
    EXPECT_EQ(size.length, c.expected.size());
    bool ascii = true;
    for (unsigned char ch : c.expected) ascii = ascii && ch < 0x80;
    EXPECT_EQ(size.ascii, ascii);
}

INSTANTIATE_TEST_SUITE_P(
    Strings, QuoteTest,
    ::testing::Values(
        QuoteCase{"plain", "Default", "\"Default\""},
        QuoteCase{"empty", "", "\"\""},
        QuoteCase{"space_kept", "a b", "\"a b\""},
        QuoteCase{"double_quote", "say \"hi\"", "\"say \\\"hi\\\"\""},
        QuoteCase{"single_quote", "it's", "\"it's\""},
        QuoteCase{"backslash", "a\\b", "\"a\\\\b\""},
        QuoteCase{"short_escapes", "\t\r\n", "\"\\t\\r\\n\""},
        QuoteCase{"nul", std::string("a\0b", 3), "\"a\\0b\""},
        QuoteCase{"other_controls", "\x01\x1f\x7f", "\"\\u{1}\\u{1f}\\u{7f}\""},
        QuoteCase{"c1_control", "\xC2\x85", "\"\\u{85}\""},
        QuoteCase{"combining_acute", "e\xCC\x81", "\"e\\u{301}\""},
        QuoteCase{"enclosing_mark", "\xE2\x83\x9D", "\"\\u{20dd}\""},
        QuoteCase{"other_grapheme_extend_zwnj", "\xE2\x80\x8C", "\"\\u{200c}\""},
        QuoteCase{"other_grapheme_extend_tag", "\xF3\xA0\x80\xA0", "\"\\u{e0020}\""},
        QuoteCase{"zero_width_space_cf", "\xE2\x80\x8B", "\"\\u{200b}\""},
        QuoteCase{"no_break_space_zs", "\xC2\xA0", "\"\\u{a0}\""},
        QuoteCase{"line_separator_zl", "\xE2\x80\xA8", "\"\\u{2028}\""},
        QuoteCase{"private_use_co", "\xEE\x80\x80", "\"\\u{e000}\""},
        QuoteCase{"unassigned_cn", "\xF4\x8F\xBF\xBF", "\"\\u{10ffff}\""},
        QuoteCase{"emoji_kept", "\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""},
        QuoteCase{"latin_kept", "Gr\xC3\xBC\xC3\x9F", "\"Gr\xC3\xBC\xC3\x9F\""},
        QuoteCase{"cjk_kept", "\xE4\xB8\xAD", "\"\xE4\xB8\xAD\""},
        // Malformed input never reads past the end and stays valid UTF-8.
        QuoteCase{"truncated_sequence", "a\xE4\xB8", "\"a\xEF\xBF\xBD\xEF\xBF\xBD\""},
        QuoteCase{"lone_continuation", "\x80", "\"\xEF\xBF\xBD\""},
        QuoteCase{"encoded_surrogate", "\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
        QuoteCase{"overlong", "\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(QuoteTest, SequenceCutByTheEndOfTheView) {
    // The view holds the first 2 bytes of the euro sign; its third byte follows in memory.
    const std::string euro = "\xE2\x82\xAC";
    EXPECT_EQ(protocols::text::quoted(std::string_view(euro).substr(0, 2)), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");
}

TEST(QuoteTest, TableBoundaries) {
    using protocols::text::needs_unicode_escape;
    EXPECT_TRUE(needs_unicode_escape(0x0));
    EXPECT_FALSE(needs_unicode_escape(U'A'));
    EXPECT_FALSE(needs_unicode_escape(0xA1));
    EXPECT_TRUE(needs_unicode_escape(0x2FF + 1));   // first combining mark
    EXPECT_TRUE(needs_unicode_escape(0x36F));       // last of that block
    EXPECT_FALSE(needs_unicode_escape(0x370));
    EXPECT_TRUE(needs_unicode_escape(0x10FFFF));
    EXPECT_TRUE(needs_unicode_escape(0x3000));      // ideographic space (Zs)
    EXPECT_FALSE(needs_unicode_escape(0x1F600));
}

TEST(QuoteTest, AppendsToExistingText) {
    std::string out = "name: ";
    protocols::text::append_quoted(out, "a\"b");
    EXPECT_EQ(out, "name: \"a\\\"b\"");
    // A view into the output itself must survive the growth.
    std::string self(100, 'x');
    protocols::text::append_quoted(self, std::string_view(self).substr(0, 100));
    EXPECT_EQ(self, std::string(100, 'x') + "\"" + std::string(100, 'x') + "\"");
}

}  // namespace
