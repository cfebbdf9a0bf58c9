// Whole numbers and eighths take a shortcut past the float formatter; its
// text must be exactly the formatter's (a plain decimal when it fits a
// spreadsheet's 11 characters), or tables would change with it.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
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

}  // namespace
}  // namespace gamedb
