// Whole numbers, eighths and short decimals take a shortcut past the float
// formatter and parser; its text must be exactly the formatter's (a plain
// decimal when it fits a spreadsheet's 11 characters), and its bits the
// parser's, or tables and databases would change with it.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <random>
#include <string>

#include "gamedb/cells.h"

namespace gamedb {
namespace {

std::string Formatter(float value) {
    char text[64];
    auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
    if (result.ptr - text <= static_cast<std::ptrdiff_t>(kMaxPlainFloat)) return std::string(text, result.ptr);
    result = std::to_chars(text, text + sizeof text, value);
    return "\\e" + std::string(text, result.ptr);
}

std::string Cell(float value) {
    std::string out;
    AppendFloat(out, std::bit_cast<std::uint32_t>(value));
    return out;
}

TEST(CellFloats, WholeNumbersAsTheFormatterWritesThem) {
    for (int n = -120000; n <= 120000; ++n) {
        const auto value = static_cast<float>(n);
        ASSERT_EQ(Cell(value), Formatter(value)) << n;
    }
    // Around the edges of the shortcut and of exact integers.
    for (float value : {99999.0f, 99999.5f, 100000.0f, -100000.0f, 16777216.0f, 16777217.0f, 1e6f, 1e10f, -1e6f,
                        0.5f, -0.5f, 1.5f, 2.25f, 99999.99f, 1e-45f, 0.0f})
        EXPECT_EQ(Cell(value), Formatter(value)) << value;
    EXPECT_EQ(Cell(-0.0f), "\\e-0");
    // Eighths, every one the shortcut takes and a little beyond.
    for (int k = -8100; k <= 8100; ++k) {
        const float value = static_cast<float>(k) / 8.0f;
        ASSERT_EQ(Cell(value), Formatter(value)) << k << "/8";
    }
    for (float value : {0.0625f, -0.0625f, 999.875f, 1000.125f, 0.1f, 1.0f / 3.0f})
        EXPECT_EQ(Cell(value), Formatter(value)) << value;
    EXPECT_EQ(Cell(std::nextafter(5.0f, 6.0f)), Formatter(std::nextafter(5.0f, 6.0f)));
}

TEST(CellFloats, ShortDecimalsAsTheFormatterWritesThem) {
    std::mt19937_64 random(13);
    // Decimals as people type them, with 1 to 8 digits after the point, and
    // the floats on either side of them.
    for (int i = 0; i < 300000; ++i) {
        const int places = static_cast<int>(random() % 8) + 1;
        const auto digits = static_cast<std::int64_t>(random() % 2000000000) - 1000000000;
        const auto value = static_cast<float>(static_cast<double>(digits % 100000000) / std::pow(10.0, places));
        for (float v : {value, std::nextafter(value, 1e6f), std::nextafter(value, -1e6f)})
            ASSERT_EQ(Cell(v), Formatter(v)) << std::hexfloat << v;
    }
    // Any bits below 100000 in magnitude.
    for (int i = 0; i < 300000; ++i) {
        const auto bits = static_cast<std::uint32_t>(random());
        const float v = std::bit_cast<float>(bits);
        if (!(std::fabs(v) < 100000.0f) || bits == 0x80000000u) continue;
        ASSERT_EQ(Cell(v), Formatter(v)) << std::hexfloat << v;
    }
}

// Where the shortcut changes its steps: at each power of two (its rounding
// interval is lopsided), at 2^14 (two places from there) and at its lower
// end, a few floats on either side, both signs.
TEST(CellFloats, AroundPowersOfTwoAsTheFormatterWritesThem) {
    for (int exponent = -30; exponent <= 17; ++exponent) {
        float value = std::ldexp(1.0f, exponent);
        for (int step = 0; step < 4; ++step) value = std::nextafter(value, 0.0f);
        for (int step = 0; step < 9; ++step, value = std::nextafter(value, 1e9f))
            for (float v : {value, -value}) {
                if (std::fabs(v) < 100000.0f) {
                    ASSERT_EQ(Cell(v), Formatter(v)) << std::hexfloat << v;
                }
            }
    }
}

TEST(CellFloats, DecimalsReadAsTheParserReadsThem) {
    std::mt19937_64 random(31);
    const auto parser = [](const std::string& text) {
        float value = 0;
        std::from_chars(text.data(), text.data() + text.size(), value);
        return std::bit_cast<std::uint32_t>(value);
    };
    for (int i = 0; i < 300000; ++i) {
        std::string text = random() % 4 == 0 ? "-" : "";
        const int whole = static_cast<int>(random() % 9) + 1;
        const int places = static_cast<int>(random() % 12);
        for (int d = 0; d < whole; ++d) text += static_cast<char>('0' + random() % 10);
        if (places > 0) text += '.';
        for (int d = 0; d < places; ++d) text += static_cast<char>('0' + random() % 10);
        std::uint32_t bits = 0;
        ASSERT_TRUE(ParseFloat(text, bits)) << text;
        ASSERT_EQ(bits, parser(text)) << text;
    }
}

}  // namespace
}  // namespace gamedb
