// The cell syntax: every type's typed form, the '#' hex form for payloads a
// type cannot show, escapes, and the cells pack must refuse.
#include "gamedb/cells.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace gamedb {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Hex(std::string_view hex) {
    Bytes out;
    std::string digits;
    for (char c : hex)
        if (c != ' ') digits += c;
    EXPECT_TRUE(ParseHex(digits, out)) << hex;
    return out;
}

// A small record layout for nested and list-of-record cells.
constexpr std::array<FieldSpec, 3> kPairFields{{{1, ValueType::Float32, "opacity"},
                                                {2, ValueType::Int32, "lifetime"},
                                                {3, ValueType::Text, "note"}}};
constexpr RecordSpec kPair{"pair", kPairFields};
constexpr std::array<FieldSpec, 1> kOneTextFields{{{1, ValueType::Text, "sound"}}};
constexpr RecordSpec kOneText{"one", kOneTextFields};

FieldSpec Field(ValueType type, std::uint16_t count = 0, const RecordSpec* record = nullptr) {
    return FieldSpec{5, type, "f", count, record};
}

struct CellCase {
    const char* what;
    FieldSpec field;
    const char* payload;   // hex
    const char* cell;      // UTF-8
};

const CellCase kCellCases[] = {
    {"text", Field(ValueType::Text), "61 62 63 00", "abc"},
    {"empty text", Field(ValueType::Text), "00", ""},
    {"text of length 0", Field(ValueType::Text), "", "#"},
    {"text without terminator", Field(ValueType::Text), "61 62", "#6162"},
    {"text with an inner 00", Field(ValueType::Text), "61 00 62 00", "#61006200"},
    {"text starting with the hex marker", Field(ValueType::Text), "23 31 00", "\\#1"},
    {"text starting with a quote", Field(ValueType::Text), "22 61 22 00", "\\x22a\""},
    {"text list starting with a quote", Field(ValueType::TextList), "01 04 22 00", "\\x22"},
    {"text with escapes", Field(ValueType::Text), "41 5C 09 0D 0A 7C 3B 01 98 00", "A\\\\\\t\\r\\n|;\\x01\\x98"},
    {"Cyrillic text", Field(ValueType::Text), "CF F0 E8 E2 E5 F2 A8 B8 B9 00", "ПриветЁё№"},
    {"path with backslashes", Field(ValueType::Text), "41 5C 48 5C 31 2E 77 00", "A\\\\H\\\\1.w"},
    {"int32", Field(ValueType::Int32), "FF FF FF FF", "-1"},
    {"int32 leftover memory", Field(ValueType::Int32), "50 32 03 78", "2013475408"},
    {"int32 smallest", Field(ValueType::Int32), "00 00 00 80", "-2147483648"},
    {"int32 zero", Field(ValueType::Int32), "00 00 00 00", "0"},
    {"int32 of 3 bytes", Field(ValueType::Int32), "01 02 03", "#010203"},
    {"int32 of 0 bytes", Field(ValueType::Int32), "", "#"},
    {"uint32", Field(ValueType::UInt32), "FF FF FF FF", "4294967295"},
    {"bits5", Field(ValueType::Bits5), "1F 00 00 00", "31"},
    {"byte", Field(ValueType::Byte), "FF", "255"},
    {"byte of 2 bytes", Field(ValueType::Byte), "01 00", "#0100"},
    {"byte array", Field(ValueType::ByteArray, 3), "00 44 01", "0 68 1"},
    {"byte array of 0 bytes", Field(ValueType::ByteArray, 3), "", "#"},
    {"float", Field(ValueType::Float32), "00 00 C0 3F", "1.5"},
    {"float -0", Field(ValueType::Float32), "00 00 00 80", "\\e-0"},
    {"float NaN FF FF FF FF", Field(ValueType::Float32), "FF FF FF FF", "nan:0xFFFFFFFF"},
    {"float array", Field(ValueType::Float32Array, 2), "00 00 80 7F 01 00 00 00", "inf \\e1e-45"},
    {"float array too short", Field(ValueType::Float32Array, 2), "00 00 80 7F", "#0000807F"},
    {"code4", Field(ValueType::Code4), "69 6D 31 00", "im1"},
    {"code4 of 4 letters", Field(ValueType::Code4), "61 62 63 64", "abcd"},
    {"empty code4", Field(ValueType::Code4), "00 00 00 00", ""},
    {"code4 with junk after its 00", Field(ValueType::Code4), "61 00 63 00", "#61006300"},
    {"code4 of 1 byte", Field(ValueType::Code4), "61", "#61"},
    {"raw", Field(ValueType::Raw, 3), "00 FE 01", "#00FE01"},
    {"raw of another length", Field(ValueType::Raw, 3), "00 00 00 00", "#00000000"},
    {"empty text list", Field(ValueType::TextList), "", ""},
    {"text list of one empty text", Field(ValueType::TextList), "01 02 00", "\\e"},
    {"text list of two empty texts", Field(ValueType::TextList), "01 02 00 01 02 00", "|"},
    {"text list", Field(ValueType::TextList), "01 08 61 7C 62 00 01 08 63 3B 5C 00", "a\\|b|c;\\\\"},
    {"text list item tagged 2", Field(ValueType::TextList), "02 08 61 62 63 00", "#0208616263 00"},
    {"text list item with a 4-byte size", Field(ValueType::TextList), "01 05 00 00 00 61 00", "#010500000061 00"},
    {"text list cut off", Field(ValueType::TextList), "01 08 61 00", "#01086100"},
    {"code4 list", Field(ValueType::Code4List), "01 08 65 65 35 00 01 08 69 6D 31 00", "ee5|im1"},
    {"nested", Field(ValueType::Nested, 0, &kPair), "01 08 00 00 00 3F 02 08 0A 00 00 00 03 08 61 7C 3B 00",
     "0.5|10|a\\|;"},
    {"nested with fields swapped", Field(ValueType::Nested, 0, &kPair),
     "02 08 0A 00 00 00 01 08 00 00 00 3F 03 02 00", "#02080A000000010800 00003F030200"},
    {"nested with a field missing", Field(ValueType::Nested, 0, &kPair), "01 08 00 00 00 3F 02 08 0A 00 00 00",
     "#010800 00003F02080A000000"},
    {"list of records", Field(ValueType::RecordList, 0, &kPair),
     "01 24 01 08 00 00 80 3F 02 08 02 00 00 00 03 08 7B 3B 7D 00 01 1E 01 08 00 00 00 80 02 08 FF FF FF FF 03 02 00",
     "\\e1;2;{\\;}|\\e-0;-1;"},
    {"list of records with every separator in its texts", Field(ValueType::RecordList, 0, &kPair),
     "01 36 01 08 00 00 00 00 02 08 00 00 00 00 03 1A 23 7C 3B 5C 7B 7D 5B 5D 2C 20 09 22 00"
     " 01 20 01 08 00 00 00 00 02 08 00 00 00 00 03 04 7C 00",
     "\\e0;0;#\\|\\;\\\\{}[], \\t\"|0;0;\\|"},
    {"list of one record with one empty text", Field(ValueType::RecordList, 0, &kOneText), "01 06 01 02 00", "\\e"},
    {"list of records, item with an unknown field", Field(ValueType::RecordList, 0, &kOneText),
     "01 0C 01 02 00 07 02 00", "#010C010200070200"},
};

class CellSyntax : public ::testing::TestWithParam<CellCase> {};

TEST_P(CellSyntax, WritesTheCellAndReadsBackTheSameBytes) {
    const CellCase& c = GetParam();
    const Bytes payload = Hex(c.payload);
    std::string cell;
    AppendCell(cell, c.field, payload);
    std::string expected;
    for (const char* p = c.cell; *p; ++p)
        if (*p != ' ' || c.cell[0] != '#') expected += *p;
    EXPECT_EQ(cell, expected) << c.what;
    Bytes back;
    ASSERT_NO_THROW(ParseCell(cell, c.field, back)) << c.what;
    EXPECT_EQ(back, payload) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Types, CellSyntax, ::testing::ValuesIn(kCellCases));

TEST(CellSyntax, EveryWindows1251ByteSurvivesInTextsAndLists) {
    Bytes text;
    for (int b = 1; b < 256; ++b) text.push_back(static_cast<std::uint8_t>(b));
    std::string listCell;
    AppendText(listCell, text, "|;");
    for (const char* separators : {"", "|", "|;", ";|", "#"}) {
        std::string cell;
        AppendText(cell, text, separators);
        Bytes back;
        ParseText(cell, back);
        EXPECT_EQ(back, text) << separators;
        // The same separators in another order escape the same bytes.
        if (std::string_view(separators) == ";|") {
            EXPECT_EQ(cell, listCell);
        }
    }
    // Only real characters in the cell, besides the escaped bytes: valid UTF-8 throughout.
    std::string cell;
    AppendText(cell, Bytes{0xC0, 0xFF, 0xA8, 0x88, 0x98});
    EXPECT_EQ(cell, "АяЁ€\\x98");
}

struct FloatCase {
    std::uint32_t bits;
    const char* text;
};

const FloatCase kFloatCases[] = {
    {0x00000000, "0"},          {0x80000000, "\\e-0"},         {0x3FC00000, "1.5"},
    {0x3DCCCCCD, "0.1"},        {0x7F800000, "inf"},          {0xFF800000, "\\e-inf"},
    {0x7FC00000, "nan:0x7FC00000"}, {0xFFFFFFFF, "nan:0xFFFFFFFF"}, {0x7F800001, "nan:0x7F800001"},
    {0xFFC00001, "nan:0xFFC00001"}, {0x00000001, "\\e1e-45"},      {0x807FFFFF, "\\e-1.1754942e-38"},
    {0x00800000, "\\e1.1754944e-38"},  {0x7F7FFFFF, "\\e3.4028235e+38"}, {0x0012FF78, "\\e1.744684e-39"},
    {0x4B3C614F, "12345679"},
    // As people write them, within what a spreadsheet shows (11 characters).
    {0x48C35000, "400000"},     {0x4B81B320, "17000000"},     {0x501502F9, "10000000000"},
    {0x51BA43B7, "99999997952"}, {0x5368D4A5, "\\e1e+12"},    {0x3727C5AC, "0.00001"},
    {0xBDFCD6EA, "-0.12345679"},
};

TEST(CellSyntax, FloatsKeepTheirBits) {
    for (const FloatCase& c : kFloatCases) {
        std::string text;
        AppendFloat(text, c.bits);
        EXPECT_EQ(text, c.text) << std::hex << c.bits;
        std::uint32_t bits = 0;
        ASSERT_TRUE(ParseFloat(text, bits)) << text;
        EXPECT_EQ(bits, c.bits) << text;
    }
    // A sweep over the whole range, subnormals and NaN payloads included.
    for (std::uint64_t b = 0; b <= 0xFFFFFFFFu; b += 0x10001) {
        const auto bits = static_cast<std::uint32_t>(b);
        std::string text;
        AppendFloat(text, bits);
        std::uint32_t back = 0;
        ASSERT_TRUE(ParseFloat(text, back)) << text;
        ASSERT_EQ(back, bits) << text;
    }
}

TEST(CellSyntax, FloatInputForms) {
    const struct {
        const char* text;
        bool ok;
        std::uint32_t bits;
    } cases[] = {
        {"1,5", true, 0x3FC00000},  {"-0,25", true, 0xBE800000}, {"1e3", true, 0x447A0000},
        {"nan", true, 0x7FC00000},  {"-nan", true, 0xFFC00000},  {"INF", true, 0x7F800000},
        {"", false, 0},             {" 1", true, 0x3F800000},    {"1\xC2\xA0", true, 0x3F800000},
        {"1.5x", false, 0},         {"1,5,5", false, 0},         {"1.5,0", false, 0},
        {"nan:0x3F800000", false, 0}, {"nan:0x", false, 0},       {"nan:0x1FFC000000", false, 0},
        {"+1", true, 0x3F800000},   {"0x10", false, 0},          {"-", false, 0},
        {"+-1", false, 0},          {"\\e-0", true, 0x80000000},  {"\\e\\e1", false, 0},
        {"1,000", false, 0},        {"-2,600", false, 0},        {"0,125", true, 0x3E000000},
        {"-0", true, 0x80000000},   {"0", true, 0},              {"9999999", true, 0x4B18967F},
        {"16777217", true, 0x4B800000}, {"-007", true, 0xC0E00000}, {"12a", false, 0},
    };
    for (const auto& c : cases) {
        std::uint32_t bits = 0;
        EXPECT_EQ(ParseFloat(c.text, bits), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(bits, c.bits) << c.text;
        }
    }
}

struct BadCase {
    const char* what;
    FieldSpec field;
    const char* cell;
    const char* expected;   // part of CellProblem::expected
};

const BadCase kBadCases[] = {
    {"int with letters", Field(ValueType::Int32), "12a", "whole number from -2147483648"},
    {"int too large", Field(ValueType::Int32), "2147483648", "whole number from -2147483648"},
    {"empty int", Field(ValueType::Int32), "", "whole number"},
    {"negative uint", Field(ValueType::UInt32), "-1", "from 0 to 4294967295"},
    {"byte too large", Field(ValueType::Byte), "256", "from 0 to 255"},
    {"float", Field(ValueType::Float32), "1.5.5", "a number such as"},
    {"float array short", Field(ValueType::Float32Array, 3), "1 2", "3 numbers separated by single spaces"},
    {"float array with two spaces", Field(ValueType::Float32Array, 2), "1  2", "2 numbers"},
    {"byte array long", Field(ValueType::ByteArray, 2), "1 2 3", "2 whole numbers"},
    {"unknown escape", Field(ValueType::Text), "Acks\\HMW", "write a backslash as \\\\"},
    {"lone backslash", Field(ValueType::Text), "abc\\", "an escape after"},
    {"short \\x", Field(ValueType::Text), "\\x4", "two hex digits"},
    {"text with 00", Field(ValueType::Text), "a\\x00b", "without the byte 00"},
    {"character outside Windows-1251", Field(ValueType::Text), "\xE2\x82\xBD", "U+20BD"},
    {"C1 control as a character", Field(ValueType::Text), "\xC2\x98", "U+0098"},
    {"broken UTF-8", Field(ValueType::Text), "\xD0", "UTF-8"},
    {"overlong UTF-8", Field(ValueType::Text), "\xC0\xAF", "UTF-8"},
    {"code4 too long", Field(ValueType::Code4), "abcde", "at most 4 bytes"},
    {"raw of the wrong length", Field(ValueType::Raw, 3), "0000", "3 bytes as 6 hex digits"},
    {"raw not hex", Field(ValueType::Raw, 1), "0G", "1 bytes as 2 hex digits"},
    {"hex marker with odd digits", Field(ValueType::Int32), "#123", "hex digits after '#'"},
    {"nested with too few values", Field(ValueType::Nested, 0, &kPair), "1|2", "3 values separated by '|'"},
    {"nested with too many values", Field(ValueType::Nested, 0, &kPair), "1|2|a|b", "3 values separated by '|'"},
    {"record list item short", Field(ValueType::RecordList, 0, &kPair), "1;2;a|1;2", "3 values separated by ';'"},
    {"text list item with 00", Field(ValueType::TextList), "a|\\x00", "without the byte 00"},
};

TEST(CellSyntax, CellsQuotedByASpreadsheet) {
    const struct {
        const char* cell;
        const char* text;    // nullptr: refused
    } cases[] = {
        {"plain", "plain"},           {"\"a\"\"b\"", "a\"b"},   {"\"\"", ""},
        {"\"\"\"\"", "\""},          {"a\"b", "a\"b"},            {"\"abc", nullptr},
        {"\"a\"b\"", nullptr},        {"\"", nullptr},
    };
    for (const auto& c : cases) {
        std::string scratch;
        if (c.text) {
            EXPECT_EQ(UnquoteCell(c.cell, scratch), c.text) << c.cell;
        } else {
            EXPECT_THROW(UnquoteCell(c.cell, scratch), CellProblem) << c.cell;
        }
    }
}

class BadCell : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadCell, IsRefusedWithWhatWasExpected) {
    const BadCase& c = GetParam();
    Bytes out;
    try {
        ParseCell(c.cell, c.field, out);
        FAIL() << c.what << ": accepted";
    } catch (const CellProblem& problem) {
        EXPECT_NE(problem.expected.find(c.expected), std::string::npos) << c.what << ": " << problem.expected;
    }
}

INSTANTIATE_TEST_SUITE_P(Types, BadCell, ::testing::ValuesIn(kBadCases));

}  // namespace
}  // namespace gamedb
