// Number-to-text rules, flag digits, shop cells and the six header texts.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "export/armors.h"
#include "export/idb_reader.h"
#include "export/loot_items.h"
#include "export/materials.h"
#include "export/quest_items.h"
#include "export/quick_items.h"
#include "export/table_writer.h"
#include "export/weapons.h"
#include "tests/support/idb_builder.h"
#include "tests/support/temp_dir.h"

namespace {

using idb::testing::Le32;
using idb::testing::ReadFile;
using idb::testing::TempDir;
using idb::testing::WriteFile;


// -------------------------------------------------------------------------
// FormatLong, FormatByte

TEST(FormatLong, WritesPlainDecimalDigits) {
    const std::pair<std::int32_t, std::string_view> cases[] = {
        {0, "0"},
        {7, "7"},
        {-1, "-1"},
        {1000000, "1000000"},
        {std::numeric_limits<std::int32_t>::max(), "2147483647"},
        {std::numeric_limits<std::int32_t>::min(), "-2147483648"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(idb::FormatLong(value), text) << value;
}

TEST(FormatByte, WritesTheUnsignedValue) {
    EXPECT_EQ(idb::FormatByte(0), "0");
    EXPECT_EQ(idb::FormatByte(127), "127");
    EXPECT_EQ(idb::FormatByte(128), "128");
    EXPECT_EQ(idb::FormatByte(200), "200");
    EXPECT_EQ(idb::FormatByte(255), "255");
}

// -------------------------------------------------------------------------
// FormatSingle, FormatDouble

struct SingleCase {
    float value;
    std::string_view separator;
    std::string_view text;
};

TEST(FormatSingle, GeneralFormatWithSevenDigits) {
    const SingleCase cases[] = {
        {0.0f, ".", "0"},
        {-0.0f, ".", "0"},
        {-0.0f, ",", "0"},
        {1.0f, ".", "1"},
        {100.0f, ".", "100"},
        {12.5f, ".", "12.5"},
        {-2.5f, ".", "-2.5"},
        {0.1f, ".", "0.1"},
        {0.33333334f, ".", "0.3333333"},
        {123456.75f, ".", "123456.8"},
        {1234567.0f, ".", "1234567"},
        // Ties in the exact binary value round to even, as the C library does.
        {1234568.5f, ".", "1234568"},
        {1234567.5f, ".", "1234568"},
        {1234566.5f, ".", "1234566"},
        // Positional notation ends just below the seventh power of ten.
        {9999999.0f, ".", "9999999"},
        {1e7f, ".", "1E+07"},
        {12345678.0f, ".", "1.234568E+07"},
        {16777217.0f, ".", "1.677722E+07"},
        {99999995.0f, ".", "9.999999E+07"},
        {-1e7f, ".", "-1E+07"},
        // ... and starts at the minus fourth.
        {0.0001f, ".", "0.0001"},
        {0.000123456f, ".", "0.000123456"},
        {0.00001f, ".", "1E-05"},
        {1.5e-5f, ".", "1.5E-05"},
        {2.5e-38f, ".", "2.5E-38"},
        {std::numeric_limits<float>::max(), ".", "3.402823E+38"},
        {std::numeric_limits<float>::min(), ".", "1.175494E-38"},
        {std::numeric_limits<float>::denorm_min(), ".", "1.401298E-45"},
        // The separator stands only where there is a fraction.
        {0.5f, ",", "0,5"},
        {-2.5f, ",", "-2,5"},
        {100.0f, ",", "100"},
        {12345678.0f, ",", "1,234568E+07"},
        {1.5e-5f, ",", "1,5E-05"},
        {1e7f, ",", "1E+07"},
        {12.5f, " dec ", "12 dec 5"},
        {12.5f, "", "125"},
    };
    for (const SingleCase& c : cases) {
        EXPECT_EQ(idb::FormatSingle(c.value, c.separator), c.text)
            << "bits 0x" << std::hex << std::bit_cast<std::uint32_t>(c.value) << " separator '" << c.separator << "'";
    }
}

TEST(FormatSingle, NonFiniteValuesHaveFixedTexts) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (std::string_view separator : {".", ","}) {
        EXPECT_EQ(idb::FormatSingle(inf, separator), "INF");
        EXPECT_EQ(idb::FormatSingle(-inf, separator), "-INF");
        EXPECT_EQ(idb::FormatSingle(nan, separator), "NAN");
        EXPECT_EQ(idb::FormatSingle(-nan, separator), "NAN");
        EXPECT_EQ(idb::FormatSingle(std::bit_cast<float>(0x7F800001u), separator), "NAN");
    }
}

TEST(FormatDouble, GeneralFormatWithFifteenDigits) {
    const std::pair<double, std::string_view> cases[] = {
        {0.0, "0"},
        {-0.0, "0"},
        {3.265, "3.265"},
        {0.1, "0.1"},
        {-1234.5, "-1234.5"},
        {1.0 / 3.0, "0.333333333333333"},
        {999999999999999.0, "999999999999999"},
        {1e15, "1E+15"},
        // Rounding to 15 digits carries into a new power of ten.
        {9999999999999995.0, "1E+16"},
        {123456789012345678.0, "1.23456789012346E+17"},
        {0.0001, "0.0001"},
        {1e-5, "1E-05"},
        {std::numeric_limits<double>::max(), "1.79769313486232E+308"},
        {std::numeric_limits<double>::denorm_min(), "4.94065645841247E-324"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(idb::FormatDouble(value, "."), text) << value;

    EXPECT_EQ(idb::FormatDouble(3.265, ","), "3,265");
    EXPECT_EQ(idb::FormatDouble(1.0 / 3.0, "::"), "0::333333333333333");
    EXPECT_EQ(idb::FormatDouble(std::numeric_limits<double>::infinity(), "."), "INF");
    EXPECT_EQ(idb::FormatDouble(-std::numeric_limits<double>::infinity(), "."), "-INF");
    EXPECT_EQ(idb::FormatDouble(std::numeric_limits<double>::quiet_NaN(), "."), "NAN");
}

// The C library's %G with the separator put in, for finite non-zero values.
std::string Reference(double value, int precision, std::string_view separator) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*G", precision, value);
    std::string result;
    for (const char* p = text; *p; ++p) {
        if (*p == '.') result += separator;
        else result += *p;
    }
    return result;
}

TEST(FormatSingle, AgreesWithTheCLibraryOnRandomBitPatterns) {
    std::mt19937 random(20240517u);
    int compared = 0;
    for (int i = 0; i < 200000; ++i) {
        const float value = std::bit_cast<float>(static_cast<std::uint32_t>(random()));
        if (!std::isfinite(value) || value == 0) continue;
        const std::string_view separator = i % 2 ? "." : ",";
        const std::string expected = Reference(value, 7, separator);
        ASSERT_EQ(idb::FormatSingle(value, separator), expected)
            << "bits 0x" << std::hex << std::bit_cast<std::uint32_t>(value);
        ++compared;
    }
    EXPECT_GT(compared, 190000);
}

TEST(FormatSingle, AgreesWithTheCLibraryOnShortDecimals) {
    // Values such as 0.15 or 2.675 sit near a rounding tie once widened;
    // random bit patterns rarely land there.
    for (int numerator = -20000; numerator <= 20000; ++numerator) {
        for (float scale : {1000.0f, 1e6f, 0.001f}) {
            const float value = static_cast<float>(numerator) / scale;
            if (value == 0) continue;
            ASSERT_EQ(idb::FormatSingle(value, "."), Reference(value, 7, ".")) << numerator << " / " << scale;
        }
    }
}

TEST(FormatDouble, AgreesWithTheCLibraryOnRandomBitPatterns) {
    std::mt19937_64 random(977u);
    for (int i = 0; i < 100000; ++i) {
        const double value = std::bit_cast<double>(static_cast<std::uint64_t>(random()));
        if (!std::isfinite(value) || value == 0) continue;
        ASSERT_EQ(idb::FormatDouble(value, ","), Reference(value, 15, ","))
            << "bits 0x" << std::hex << std::bit_cast<std::uint64_t>(value);
    }
}

// -------------------------------------------------------------------------
// ToBitDigits, flag strings, shop cells

std::string Reversed(std::string text) { return {text.rbegin(), text.rend()}; }

// The flag string as the reader makes it from the four stored bytes.
std::string FlagStringOf(std::int32_t value, const std::filesystem::path& folder) {
    const auto file = folder / "flags.bin";
    WriteFile(file, Le32(static_cast<std::uint32_t>(value)));
    idb::IdbReader in;
    in.Open(file);
    std::string flags = in.ReadFlags();
    EXPECT_EQ(in.Offset(), 4);
    return flags;
}

std::string ShopCellsOf(std::string_view flags, const std::filesystem::path& folder) {
    {
        idb::TableWriter out;
        out.Create(folder, "cells.txt");
        idb::FlagCells(out, flags);
        out.Close();
    }
    return ReadFile(folder / "cells.txt");
}

struct FlagCase {
    std::int32_t value;
    std::string_view digits;
    std::string_view cells;  // Shop 1 to Shop 5
};

TEST(FlagDigits, DigitsFlagStringAndShopCellsAgree) {
    const std::string allOnes(32, '1');
    const std::string bit31 = "1" + std::string(31, '0');
    const std::string minus32 = std::string(27, '1') + "00000";
    const FlagCase cases[] = {
        {0, "00000000", "\t\t\t\t\t"},
        {1, "00000001", "1\t\t\t\t\t"},
        {5, "00000101", "1\t\t1\t\t\t"},
        {6, "00000110", "\t1\t1\t\t\t"},
        {19, "00010011", "1\t1\t\t\t1\t"},
        {31, "00011111", "1\t1\t1\t1\t1\t"},
        {32, "00100000", "\t\t\t\t\t"},
        {255, "11111111", "1\t1\t1\t1\t1\t"},
        {256, "100000000", "\t\t\t\t\t"},
        {300, "100101100", "\t\t1\t1\t\t"},
        {0x10000, "10000000000000000", "\t\t\t\t\t"},
        {std::numeric_limits<std::int32_t>::max(), "1111111111111111111111111111111", "1\t1\t1\t1\t1\t"},
        // Negative values: their 32 two's-complement digits.
        {-1, allOnes, "1\t1\t1\t1\t1\t"},
        {-32, minus32, "\t\t\t\t\t"},
        {std::numeric_limits<std::int32_t>::min(), bit31, "\t\t\t\t\t"},
    };
    TempDir folder("idb-format");
    for (const FlagCase& c : cases) {
        SCOPED_TRACE(c.value);
        const std::string digits = idb::ToBitDigits(c.value);
        EXPECT_EQ(digits, c.digits);
        const std::string flags = FlagStringOf(c.value, folder.path());
        EXPECT_EQ(flags, Reversed(digits));
        EXPECT_EQ(ShopCellsOf(flags, folder.path()), c.cells);
    }
}

TEST(FlagDigits, FlagCharacterKIsBitKMinusOne) {
    TempDir folder("idb-format");
    for (int bit = 0; bit < 32; ++bit) {
        const auto value = static_cast<std::int32_t>(1u << bit);
        const std::string flags = FlagStringOf(value, folder.path());
        ASSERT_GE(flags.size(), 8u);
        ASSERT_GT(flags.size(), static_cast<std::size_t>(bit)) << bit;
        for (std::size_t k = 0; k < flags.size(); ++k) {
            EXPECT_EQ(flags[k], k == static_cast<std::size_t>(bit) ? '1' : '0') << "bit " << bit << " char " << k;
        }
    }
}

TEST(FlagCells, OnlyTheDigitOneMarksAShop) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"", "\t\t\t\t\t"},
        {"1", "1\t\t\t\t\t"},
        {"11", "1\t1\t\t\t\t"},
        {"00001111", "\t\t\t\t1\t"},
        {"1-000000", "1\t\t\t\t\t"},
        {"x1y1z", "\t1\t\t1\t\t"},
        {"000001111", "\t\t\t\t\t"},
    };
    TempDir folder("idb-format");
    for (const auto& [flags, cells] : cases) EXPECT_EQ(ShopCellsOf(flags, folder.path()), cells) << flags;
}

// -------------------------------------------------------------------------
// Header texts

// Titles, each followed by as many Tabs as the line says.
std::string Line(std::initializer_list<std::pair<std::string_view, int>> pieces) {
    std::string text;
    for (const auto& [title, tabs] : pieces) {
        text += title;
        text.append(static_cast<std::size_t>(tabs), '\t');
    }
    return text;
}

std::string Joined(std::initializer_list<std::string_view> titles) {
    std::string text;
    for (std::string_view title : titles) {
        if (!text.empty()) text += '\t';
        text += title;
    }
    return text;
}

std::vector<std::string> SplitTabs(std::string_view line) {
    std::vector<std::string> cells;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        cells.emplace_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
        if (tab == std::string_view::npos) return cells;
        start = tab + 1;
    }
}

void ExpectHeader(const std::string& header, const std::string& line1, const std::string& line2, std::size_t cells) {
    const std::size_t crlf = header.find("\r\n");
    ASSERT_NE(crlf, std::string::npos);
    EXPECT_EQ(header.find_first_of("\r\n", crlf + 2), std::string::npos) << "exactly one line break";
    EXPECT_EQ(header.substr(0, crlf), line1);
    EXPECT_EQ(header.substr(crlf + 2), line2);
    EXPECT_EQ(SplitTabs(header.substr(0, crlf)).size(), cells);
    EXPECT_EQ(SplitTabs(header.substr(crlf + 2)).size(), cells);
}

TEST(HeaderTexts, Materials) {
    ExpectHeader(idb::MaterialsHeader(),
                 Line({{"Name", 1}, {"General", 7}, {"Material", 4}, {"Absorption", 7}, {"Available In", 4}}),
                 Joined({"Name", "?Unknown?", "?Unknown?", "Price", "Weight", "Mana", "Slots", "Durability", "Type",
                         "Code Name", "Damage", "Skill", "Piercing", "Slashing", "Bludgeoning", "Termal", "Chemic",
                         "Electric", "General", "Shop 1", "Shop 2", "Shop 3", "Shop 4", "Shop 5"}),
                 24);
}

TEST(HeaderTexts, Weapons) {
    ExpectHeader(idb::WeaponsHeader(),
                 Line({{"Name", 1},
                       {"General", 8},
                       {"Weapon", 7},
                       {"Damage proportions", 7},
                       {"Lists", 1},
                       {"Available In", 5},
                       {"Graphics Data", 2}}),
                 Joined({"Name",         "Price",        "Weight",     "Size",         "Mana",
                         "Slots",        "Durability",   "Deconstructable", "Components", "Type",
                         "Material Type", "Range",       "Damage Min", "Damage Max",   "Actions",
                         "Spell",        "Piercing",     "Slashing",   "Bludgeoning",  "Termal",
                         "Chemic",       "Electric",     "General",    "Stats Modifiers", "Shop 1",
                         "Shop 2",       "Shop 3",       "Shop 4",     "Shop 5",       "Texture Type Index",
                         "Texture Type Index 2", "Figure Names"}),
                 32);
}

TEST(HeaderTexts, Armors) {
    ExpectHeader(idb::ArmorsHeader(),
                 Line({{"Name", 1},
                       {"General", 8},
                       {"Armor", 3},
                       {"Main", 8},
                       {"Additional", 8},
                       {"Lists", 1},
                       {"Available In", 5},
                       {"Graphics Data", 4}}),
                 Joined({"Name",        "Price",      "Weight",     "Size",        "Mana",
                         "Slots",       "Durability", "Deconstructable", "Components", "Type",
                         "Material Type", "Spell",    "Absorption", "Piercing",    "Slashing",
                         "Bludgeoning", "Termal",     "Chemic",     "Electric",    "General",
                         "Absorption",  "Piercing",   "Slashing",   "Bludgeoning", "Termal",
                         "Chemic",      "Electric",   "General",    "Stats Modifiers", "Shop 1",
                         "Shop 2",      "Shop 3",     "Shop 4",     "Shop 5",      "Texture Type Index",
                         "Texture Type Index 2", "Figure Names", "Wear Order", "Apply Wounds"}),
                 39);
}

TEST(HeaderTexts, QuickItems) {
    ExpectHeader(idb::QuickItemsHeader(),
                 Line({{"Name", 1}, {"General", 8}, {"Quick Items", 6}, {"Available In", 5}, {"Graphics Data", 2}}),
                 Joined({"Name", "Price", "Weight", "Size", "Mana", "Slots", "Durability", "Deconstructable",
                         "Components", "Type", "Material Type", "Skill", "Damage", "Damage Type", "Spell", "Shop 1",
                         "Shop 2", "Shop 3", "Shop 4", "Shop 5", "Texture Type Index", "Texture Type Index 2",
                         "Figure Names"}),
                 23);
}

TEST(HeaderTexts, QuestItems) {
    ExpectHeader(idb::QuestItemsHeader(),
                 Line({{"Name", 1}, {"General", 8}, {"Quest Items", 4}, {"Available In", 5}, {"Graphics Data", 2}}),
                 Joined({"Name", "Price", "Weight", "Size", "Mana", "Slots", "Durability", "Deconstructable",
                         "Components", "Type", "Material Type", "ScriptID", "Zones", "Shop 1", "Shop 2", "Shop 3",
                         "Shop 4", "Shop 5", "Texture Type Index", "Texture Type Index 2", "Figure Names"}),
                 21);
}

TEST(HeaderTexts, LootItemsSayMaterialInColumnEleven) {
    const std::string header = idb::LootItemsHeader();
    ExpectHeader(header,
                 Line({{"Name", 1}, {"General", 8}, {"Loot", 2}, {"Available In", 5}, {"Graphics Data", 2}}),
                 Joined({"Name", "Price", "Weight", "Size", "Mana", "Slots", "Durability", "Deconstructable",
                         "Components", "Type", "Material", "Shop 1", "Shop 2", "Shop 3", "Shop 4", "Shop 5",
                         "Texture Type Index", "Texture Type Index 2", "Figure Names"}),
                 19);
    EXPECT_EQ(SplitTabs(header.substr(header.find("\r\n") + 2)).at(10), "Material");
}

TEST(HeaderTexts, WriteHeaderEndsTheSecondLine) {
    TempDir folder("idb-format");
    {
        idb::TableWriter out;
        out.Create(folder.path(), "Loot.txt");
        out.WriteHeader(idb::LootItemsHeader());
        out.Close();
    }
    const std::string file = ReadFile(folder.path() / "Loot.txt");
    EXPECT_EQ(file, idb::LootItemsHeader() + "\r\n");
    EXPECT_EQ(file.substr(file.size() - 15), "\tFigure Names\r\n");
}

}  // namespace
