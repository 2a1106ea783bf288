#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "protocols/text/float_text.hpp"
#include "protocols/text/text_form.hpp"

namespace {

std::string text_of(double x) {
    char buf[protocols::text::max_float_text];
    return std::string(buf, protocols::text::format_float(buf, x));
}

struct FloatCase {
    double value;
    const char* expected;
};

void PrintTo(const FloatCase& c, std::ostream* os) { *os << c.expected; }

class FloatTextTest : public ::testing::TestWithParam<FloatCase> {};

TEST_P(FloatTextTest, Renders) {
    EXPECT_EQ(text_of(GetParam().value), GetParam().expected);
    EXPECT_EQ(protocols::text::render_value(GetParam().value, 3), GetParam().expected);
}

constexpr double inf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Layout, FloatTextTest,
    ::testing::Values(
        FloatCase{0.0, "0.0"}, FloatCase{-0.0, "-0.0"}, FloatCase{80.0, "80.0"},
        FloatCase{60.0, "60.0"}, FloatCase{-2.5, "-2.5"}, FloatCase{0.3, "0.3"},
        FloatCase{0.1 + 0.2, "0.30000000000000004"}, FloatCase{22.624434389140273, "22.624434389140273"},
        FloatCase{1e15, "1000000000000000.0"}, FloatCase{123456789012.0, "123456789012.0"},
        FloatCase{9999999999999998.0, "9999999999999998.0"}, FloatCase{1e16, "1e16"},
        FloatCase{-1e16, "-1e16"}, FloatCase{1.5e16, "1.5e16"}, FloatCase{1e100, "1e100"},
        FloatCase{1.7976931348623157e308, "1.7976931348623157e308"},
        FloatCase{0.0001, "0.0001"}, FloatCase{0.00012, "0.00012"},
        FloatCase{0.00009999, "9.999e-5"}, FloatCase{9.999e-5, "9.999e-5"}, FloatCase{5e-5, "5e-5"},
        FloatCase{0.00005, "5e-5"}, FloatCase{2.5e-7, "2.5e-7"}, FloatCase{-2.5e-7, "-2.5e-7"},
        FloatCase{5e-324, "5e-324"}, FloatCase{-5e-324, "-5e-324"},
        FloatCase{2.2250738585072014e-308, "2.2250738585072014e-308"},
        FloatCase{std::numeric_limits<double>::quiet_NaN(), "NaN"},
        FloatCase{-std::numeric_limits<double>::quiet_NaN(), "NaN"}, FloatCase{inf, "inf"},
        FloatCase{-inf, "-inf"}));

// Values exactly halfway between two shortest digit strings take the larger one (the
// standard library's shortest form rounds these to even); neighbours that are not ties,
// and ties whose even choice is already the larger, stay as they are.
INSTANTIATE_TEST_SUITE_P(
    HalfwayTies, FloatTextTest,
    ::testing::Values(
        FloatCase{1035468440090256.25, "1035468440090256.3"},
        FloatCase{-1035468440090256.25, "-1035468440090256.3"},
        FloatCase{1000000000000000.25, "1000000000000000.3"},
        FloatCase{1125899906842623.25, "1125899906842623.3"},
        FloatCase{252534414344415.625, "252534414344415.63"},
        FloatCase{1573626427739.15625, "1573626427739.1563"},
        FloatCase{1.3105850219726562, "1.3105850219726563"},
        FloatCase{0.50000762939453125, "0.5000076293945313"},
        FloatCase{0.00013780593872070312, "0.00013780593872070313"},
        FloatCase{9.202957153320312e-05, "9.202957153320313e-5"},
        FloatCase{5.960464477539062e-07, "5.960464477539063e-7"},
        // Not ties.
        FloatCase{1035468440090256.125, "1035468440090256.1"},
        FloatCase{1035468440090256.375, "1035468440090256.4"},
        FloatCase{1035468440090256.75, "1035468440090256.8"},
        FloatCase{0.50002288818359375, "0.5000228881835938"},
        FloatCase{1125899906842624.5, "1125899906842624.5"},
        FloatCase{9007199254740993.0, "9007199254740992.0"}));

TEST(FloatText, LongestTextsFit) {
    const double worst[] = {-1.7976931348623157e308, -2.2250738585072014e-308,
                            -0.00012345678901234567, -1234567890123456.7,
                            -std::bit_cast<double>(std::uint64_t{0x000FFFFFFFFFFFFF})};
    for (double x : worst) EXPECT_LE(text_of(x).size(), protocols::text::max_float_text) << x;
}

}  // namespace
