// The six category exporters, each run over a category block built byte by
// byte, comparing the rows they write byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <iterator>
#include <limits>
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
#include "tests/support/sample_items.h"

namespace {

using idb::testing::CommonFields;
using idb::testing::Cp1251;
using idb::testing::Le16;
using idb::testing::Le32;
using idb::testing::RecordBuilder;
using idb::testing::SingleBytes;
using Cells = std::vector<std::string>;
using Exporter = void (*)(idb::IdbReader&, idb::TableWriter&);

void Materials(idb::IdbReader& in, idb::TableWriter& out) { idb::ExportMaterials(in, out); }

constexpr std::int32_t kInt32Min = std::numeric_limits<std::int32_t>::min();

// Each cell followed by a Tab, the row closed by CR LF.
std::string Row(std::initializer_list<Cells> runs) {
    std::string row;
    for (const Cells& run : runs) {
        for (const std::string& cell : run) {
            row += cell;
            row += '\t';
        }
    }
    return row + "\r\n";
}

std::vector<std::string> SplitRows(const std::string& table) {
    std::vector<std::string> rows;
    std::size_t start = 0;
    for (std::size_t end; (end = table.find("\r\n", start)) != std::string::npos; start = end + 2) {
        rows.push_back(table.substr(start, end + 2 - start));
    }
    EXPECT_EQ(start, table.size()) << "the table ends with CR LF";
    return rows;
}

// The cells of one row (its last Tab and the CR LF dropped).
Cells SplitCells(std::string_view row) {
    Cells cells;
    if (row.size() < 3 || row.substr(row.size() - 3) != "\t\r\n") {
        ADD_FAILURE() << "row does not end with Tab CR LF";
        return cells;
    }
    row.remove_suffix(3);
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = row.find('\t', start);
        cells.emplace_back(row.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
        if (tab == std::string_view::npos) return cells;
        start = tab + 1;
    }
}

std::ptrdiff_t Tabs(std::string_view text) { return std::count(text.begin(), text.end(), '\t'); }

// A common block with a distinct value in every field.
CommonFields StandardCommon() {
    CommonFields f;
    f.typeName = "Sword";
    f.unlisted = 0x5A5A5A5A;
    f.materialType = Cp1251("Сталь");
    f.figureNames = 7;
    f.textureTypeIndex = 11;
    f.textureTypeIndex2 = -12;
    f.price = 150.5f;
    f.weight = 2.25f;
    f.size = 3;
    f.mana = 0.5f;
    f.slots = -1;
    f.durability = 12345678;
    f.components = 4;
    f.shopFlags = 19;
    f.deconstructable = 200;
    return f;
}

// The cells that StandardCommon gives.
Cells General(std::string_view separator = ".") {
    if (separator == ",") return {"150,5", "2,25", "3", "0,5", "-1", "1,234568E+07", "200", "4", "Sword", Cp1251("Сталь")};
    return {"150.5", "2.25", "3", "0.5", "-1", "1.234568E+07", "200", "4", "Sword", Cp1251("Сталь")};
}
Cells Shop() { return {"1", "1", "", "", "1"}; }
Cells Graphics() { return {"11", "-12", "7"}; }

std::string Singles(const std::vector<float>& values) {
    std::string bytes;
    for (float value : values) bytes += SingleBytes(value);
    return bytes;
}

class ExporterTest : public ::testing::Test {
protected:
    ExporterTest() {
        // The exporters keep their last item for the life of the process.
        idb::CurrentMaterial() = {};
        idb::CurrentWeapon() = {};
        idb::CurrentArmor() = {};
        idb::CurrentQuickItem() = {};
        idb::CurrentQuestItem() = {};
        idb::CurrentLootItem() = {};
    }

    // Runs the exporter over one category block (its header and `records`)
    // and returns the rows it wrote. The exporter must stop exactly at the
    // end of the block, which is the end of the file.
    std::string Export(Exporter exporter, std::string_view records, std::int32_t sizeValue,
                       const std::string& separator = ".", const idb::YieldHook& yield = {}) {
        const auto database = folder_ / ("db" + std::to_string(++runs_) + ".idb");
        const std::string bytes = "\x03" + Le32(static_cast<std::uint32_t>(sizeValue)) + std::string(records);
        idb::testing::WriteFile(database, bytes);
        const std::string table = "table" + std::to_string(runs_) + ".txt";
        {
            idb::IdbReader in;
            in.Open(database);
            in.ReadCategoryHeader();
            idb::TableWriter out(separator);
            out.Create(folder_.path(), table);
            if (yield) idb::ExportMaterials(in, out, yield);
            else exporter(in, out);
            out.Close();
            consumed_ = in.Offset() - 5;
        }
        return idb::testing::ReadFile(folder_ / table);
    }

    // The records with a size value that makes the reader take all of them.
    std::string Export(Exporter exporter, const std::vector<RecordBuilder>& records,
                       const std::string& separator = ".", const idb::YieldHook& yield = {}) {
        std::string bytes;
        std::int32_t span = 0;
        for (const RecordBuilder& record : records) {
            bytes += record.Bytes();
            span += record.CounterSpan();
        }
        std::string table = Export(exporter, bytes, 2 * span + 1, separator, yield);
        EXPECT_EQ(consumed_, static_cast<long long>(bytes.size())) << "bytes of the records read";
        return table;
    }

    // Bytes read after the category header in the last run.
    long long Consumed() const { return consumed_; }

private:
    idb::testing::TempDir folder_{"idb-exporters"};
    int runs_ = 0;
    long long consumed_ = 0;
};

// -------------------------------------------------------------------------
// All categories

TEST_F(ExporterTest, CategoryOfSizeTwoOrLessHasNoRows) {
    const Exporter exporters[] = {Materials,        idb::ExportWeapons,    idb::ExportArmors,
                                  idb::ExportQuickItems, idb::ExportQuestItems, idb::ExportLootItems};
    for (Exporter exporter : exporters) {
        for (std::int32_t sizeValue : {0, 1, 2, -1, -7, kInt32Min}) {
            SCOPED_TRACE(sizeValue);
            // Nothing follows the header: any read would fail.
            EXPECT_EQ(Export(exporter, "", sizeValue), "");
            EXPECT_EQ(Consumed(), 0);
        }
    }
}

TEST_F(ExporterTest, SizeValueThreeReadsOneRecordOfMany) {
    using idb::testing::SampleArmor;
    using idb::testing::SampleLootItem;
    using idb::testing::SampleMaterial;
    using idb::testing::SampleQuestItem;
    using idb::testing::SampleQuickItem;
    using idb::testing::SampleWeapon;
    const std::pair<Exporter, RecordBuilder (*)(int)> categories[] = {
        {Materials, SampleMaterial},           {idb::ExportWeapons, SampleWeapon},
        {idb::ExportArmors, SampleArmor},       {idb::ExportQuickItems, SampleQuickItem},
        {idb::ExportQuestItems, SampleQuestItem}, {idb::ExportLootItems, SampleLootItem},
    };
    for (const auto& [exporter, sample] : categories) {
        const RecordBuilder first = sample(1);
        const std::string table = Export(exporter, first.Bytes() + sample(2).Bytes(), 3);
        EXPECT_EQ(SplitRows(table).size(), 1u);
        EXPECT_EQ(Consumed(), static_cast<long long>(first.Bytes().size()));
    }
}

// -------------------------------------------------------------------------
// Materials

TEST_F(ExporterTest, MaterialRowFollowsTagsWithLocaleSeparator) {
    RecordBuilder record(Cp1251("Бронза"));
    record.Text(1, "Metal").Long(3, 7).Single(4, 2.5f).Long(12, 0)
        .Singles(11, {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.75f}).Long(13, 5);
    EXPECT_EQ(Export(Materials, {record}, ","),
              Row({{Cp1251("Бронза"), "7", "0", "2,5", "0", "0", "0", "0", "Metal", "", "0", "0"},
                   {"0,1", "0,2", "0,3", "0,4", "0,5", "0,6", "0,75"},
                   {"1", "", "1", "", ""}}));
}

TEST_F(ExporterTest, MaterialEveryTagFillsItsColumn) {
    RecordBuilder record("Mithril");
    record.Long(13, 31).Single(10, 12.5f).Long(9, 4).Single(8, 300).Long(7, -2).Single(6, 0.25f)
        .Single(5, 1.5f).Single(4, 1e7f).Text(2, "mith").Text(1, "Rare").Long(12, -5).Long(3, 6)
        .Singles(11, {1, 2, 3, 4, 5, 6, 7});
    const std::string table = Export(Materials, {record});
    EXPECT_EQ(table, Row({{"Mithril", "-5", "6", "1E+07", "1.5", "0.25", "-2", "300", "Rare", "mith", "12.5", "4"},
                          {"1", "2", "3", "4", "5", "6", "7"},
                          {"1", "1", "1", "1", "1"}}));
    EXPECT_EQ(Tabs(table), 24);
}

TEST_F(ExporterTest, MaterialUnnamedIntegersGoOutInRecordOrder) {
    auto material = [](std::string_view name) {
        RecordBuilder record(name);
        record.Text(1, "T");
        return record;
    };
    RecordBuilder none = material("none");
    none.Single(4, 1);
    RecordBuilder three = material("three");
    three.Long(3, 1).Single(4, 2).Long(12, 2).Long(3, 3).Single(4, 3);
    RecordBuilder reversed = material("reversed");
    reversed.Long(12, 12).Long(3, 3);
    const std::vector<std::string> rows = SplitRows(Export(Materials, {none, three, reversed}));
    ASSERT_EQ(rows.size(), 3u);
    const Cells tail = {"0", "0", "0", "T", "", "0", "0", "", "", "", "", ""};
    EXPECT_EQ(rows[0], Row({{"none", "1", "0"}, tail}));
    // Repeated tags: every 3 and 12 gets a cell, the float keeps the last.
    EXPECT_EQ(rows[1], Row({{"three", "1", "2", "3", "3", "0"}, tail}));
    EXPECT_EQ(rows[2], Row({{"reversed", "12", "3", "3", "0"}, tail}));
}

TEST_F(ExporterTest, MaterialUnknownTagReadsNoValueBytes) {
    for (std::uint8_t tag : {std::uint8_t{0}, std::uint8_t{14}, std::uint8_t{200}}) {
        SCOPED_TRACE(static_cast<int>(tag));
        idb::CurrentMaterial() = {};
        RecordBuilder record("X");
        // The header declares 4 bytes; none follow, the next field does.
        record.Field(tag, "", 4).Single(4, 2.5f).Long(7, 9);
        EXPECT_EQ(Export(Materials, {record}),
                  Row({{"X", "2.5", "0", "0", "9", "0", "", "", "0", "0"}, {"", "", "", "", ""}}));
    }
}

TEST_F(ExporterTest, MaterialLackingFieldsRepeatsEarlierRecordsAndRuns) {
    RecordBuilder full("Full");
    full.Text(1, "Type").Text(2, "code").Single(4, 10).Single(5, 20).Single(6, 30).Long(7, 40).Single(8, 50)
        .Long(9, 60).Single(10, 70).Singles(11, {1, 2, 3, 4, 5, 6, 7}).Long(13, 2);
    RecordBuilder partial("Partial");
    partial.Text(2, "other");
    const Cells fullValues = {"10", "20", "30", "40", "50", "Type"};
    const Cells rest = {"70", "60", "1", "2", "3", "4", "5", "6", "7", "", "1", "", "", ""};
    const std::vector<std::string> rows = SplitRows(Export(Materials, {full, partial}));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], Row({{"Full"}, fullValues, {"code"}, rest}));
    EXPECT_EQ(rows[1], Row({{"Partial"}, fullValues, {"other"}, rest}));

    // A second run starts with what the first one left.
    RecordBuilder later("Later");
    later.Single(5, 99);
    EXPECT_EQ(Export(Materials, {later}), Row({{"Later", "10", "99", "30", "40", "50", "Type", "other"}, rest}));
}

TEST_F(ExporterTest, MaterialBeforeAnyAbsorptionOrShopFieldHasNoAbsorptionCells) {
    RecordBuilder record("Bare");
    record.Text(1, "T");
    const std::string table = Export(Materials, {record});
    EXPECT_EQ(table, Row({{"Bare", "0", "0", "0", "0", "0", "T", "", "0", "0"}, {"", "", "", "", ""}}));
    EXPECT_EQ(Tabs(table), 15);
}

TEST_F(ExporterTest, MaterialAbsorptionCellsFollowFieldLength) {
    struct Case {
        std::vector<float> stored;
        int declared;
        Cells cells;
    };
    const Case cases[] = {
        {{1, 2, 3, 4, 5, 6, 7}, -1, {"1", "2", "3", "4", "5", "6", "7"}},
        {{1, 2, 3, 4, 5, 6, 7, 8}, -1, {"1", "2", "3", "4", "5", "6", "7", "8"}},
        {{0.25f}, -1, {"0.25"}},
        {{}, 0, {}},
        // A length below 4 asks for no values: none are read.
        {{}, 3, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cells.size());
        // An earlier array must not show through.
        idb::CurrentMaterial().Absorption = {9, 9, 9, 9, 9, 9, 9, 9, 9};
        RecordBuilder record("A");
        record.Long(13, 1).Field(11, Singles(c.stored), c.declared).Single(4, 1);
        EXPECT_EQ(Export(Materials, {record}),
                  Row({{"A", "1", "0", "0", "0", "0", "", "", "0", "0"}, c.cells, {"1", "", "", "", ""}}));
    }
}

TEST_F(ExporterTest, MaterialShopCellsShowTheLowFiveBits) {
    const std::pair<std::int32_t, Cells> cases[] = {
        {0, {"", "", "", "", ""}},
        {1, {"1", "", "", "", ""}},
        {5, {"1", "", "1", "", ""}},
        {31, {"1", "1", "1", "1", "1"}},
        {32, {"", "", "", "", ""}},
        {256, {"", "", "", "", ""}},
        {-1, {"1", "1", "1", "1", "1"}},
        {-32, {"", "", "", "", ""}},
        {-15, {"1", "", "", "", "1"}},
        {kInt32Min, {"", "", "", "", ""}},
    };
    for (const auto& [flags, cells] : cases) {
        SCOPED_TRACE(flags);
        RecordBuilder record("S");
        record.Long(13, flags).Singles(11, {});
        EXPECT_EQ(Export(Materials, {record}), Row({{"S", "0", "0", "0", "0", "0", "", "", "0", "0"}, cells}));
    }
}

TEST_F(ExporterTest, MaterialWhoseNameReachesPastRecordSizeReadsNoFields) {
    RecordBuilder first("First");
    first.Text(1, "T").Single(4, 3.5f).Long(13, 4);
    // SizeWord 4 gives RecordSize 2; after the 1-byte name RecordPosition is 5.
    const std::string bare = "\x01" + Le16(4) + "\x02" + "Z";
    const std::string bytes = first.Bytes() + bare;
    const std::string table = Export(Materials, bytes, 2 * (first.CounterSpan() + 5) + 1);
    EXPECT_EQ(Consumed(), static_cast<long long>(bytes.size()));
    const std::vector<std::string> rows = SplitRows(table);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1], Row({{"Z", "3.5", "0", "0", "0", "0", "T", "", "0", "0"}, {"", "", "1", "", ""}}));
}

TEST_F(ExporterTest, MaterialYieldsOncePerField) {
    RecordBuilder a("A");
    a.Text(1, "T").Long(3, 1).Field(14, "", 0);
    RecordBuilder b("B");
    b.Single(4, 1).Single(5, 2);
    int calls = 0;
    Export(Materials, {a, b}, ".", [&calls] { ++calls; });
    EXPECT_EQ(calls, 5);
}

// -------------------------------------------------------------------------
// Weapons

struct WeaponFields {
    std::int32_t actions = 3;
    std::string dropped1 = "unused one";
    float range = 1.75f;
    float damageMin = 1.5f;
    float damageMax = 2;
    std::vector<float> proportions{0.25f, 0, 0.1f, 0, 0, 0, 0.65f};
    std::string spell = "Fire";
    std::string dropped2 = "unused two";
    float attack = 5;
    float defence = 2.5f;
    int fourByteLength = -1;  // declared length of the 4-byte fields
};

RecordBuilder Weapon(std::string_view name, const WeaponFields& w) {
    const int n = w.fourByteLength;
    RecordBuilder record(name);
    record.Common(StandardCommon())
        .Field(16, Le32(static_cast<std::uint32_t>(w.actions)), n)
        .Text(17, w.dropped1)
        .Field(18, SingleBytes(w.range), n)
        .Field(19, SingleBytes(w.damageMin), n)
        .Field(20, SingleBytes(w.damageMax), n)
        .Field(21, Singles(w.proportions))
        .Text(22, w.spell)
        .Text(23, w.dropped2)
        .Field(24, SingleBytes(w.attack), n)
        .Field(25, SingleBytes(w.defence), n);
    return record;
}

TEST_F(ExporterTest, WeaponRowHasEveryColumnUnderItsTitle) {
    const std::string table = Export(idb::ExportWeapons, {Weapon(Cp1251("Меч"), {})});
    EXPECT_EQ(table, Row({{Cp1251("Меч")},
                          General(),
                          {"1.75", "15", "35", "3", "Fire"},
                          {"25%", "0%", "10%", "0%", "0%", "0%", "65%"},
                          {"attack 5, defence 2.5"},
                          Shop(),
                          Graphics()}));
    EXPECT_EQ(Tabs(table), 32);
}

TEST_F(ExporterTest, WeaponDamageIsScaledAndMaxIncludesMin) {
    struct Case {
        float min, max;
        std::string_view minCell, maxCell;
    };
    const Case cases[] = {
        {1.5f, 2, "15", "35"}, {0, 0, "0", "0"}, {0.1f, 0.2f, "1", "3"}, {-1, 0.5f, "-10", "-5"},
        {123456.7f, 0, "1234567", "1234567"},
    };
    for (const Case& c : cases) {
        WeaponFields w;
        w.damageMin = c.min;
        w.damageMax = c.max;
        const Cells cells = SplitCells(Export(idb::ExportWeapons, {Weapon("W", w)}));
        ASSERT_EQ(cells.size(), 32u);
        EXPECT_EQ(cells[12], c.minCell) << c.min;
        EXPECT_EQ(cells[13], c.maxCell) << c.max;
    }
}

TEST_F(ExporterTest, WeaponProportionCellsFollowFieldLength) {
    for (std::size_t count : {0u, 6u, 7u, 8u}) {
        SCOPED_TRACE(count);
        WeaponFields w;
        w.proportions.assign(count, 0.5f);
        const std::string table = Export(idb::ExportWeapons, {Weapon("W", w)});
        EXPECT_EQ(table, Row({{"W"}, General(), {"1.75", "15", "35", "3", "Fire"}, Cells(count, "50%"),
                              {"attack 5, defence 2.5"}, Shop(), Graphics()}));
    }
}

TEST_F(ExporterTest, WeaponBonusCellNamesTheNonZeroBonuses) {
    struct Case {
        float attack, defence;
        std::string separator;
        std::string_view cell;
    };
    const Case cases[] = {
        {5, 2.5f, ".", "attack 5, defence 2.5"},
        {-3, 0, ".", "attack -3"},
        {0, 1.5f, ".", "defence 1.5"},
        {0, 0, ".", ""},
        {-0.0f, -0.0f, ".", ""},
        {0.5f, -0.25f, ",", "attack 0,5, defence -0,25"},
        {1e7f, 0, ".", "attack 1E+07"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.cell));
        WeaponFields w;
        w.attack = c.attack;
        w.defence = c.defence;
        const Cells cells = SplitCells(Export(idb::ExportWeapons, {Weapon("W", w)}, c.separator));
        ASSERT_EQ(cells.size(), 32u);
        EXPECT_EQ(cells[23], c.cell);
        EXPECT_EQ(cells[24], "1") << "shop cells stay under their titles";
    }
}

TEST_F(ExporterTest, WeaponFourByteFieldsIgnoreTheirDeclaredLength) {
    for (int declared : {0, 2, 8, 127}) {
        SCOPED_TRACE(declared);
        WeaponFields w;
        w.fourByteLength = declared;
        const std::vector<std::string> rows =
            SplitRows(Export(idb::ExportWeapons, {Weapon("One", w), Weapon("Two", w)}));
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[1], Row({{"Two"}, General(), {"1.75", "15", "35", "3", "Fire"},
                                {"25%", "0%", "10%", "0%", "0%", "0%", "65%"}, {"attack 5, defence 2.5"}, Shop(),
                                Graphics()}));
    }
}

TEST_F(ExporterTest, WeaponNothingCarriesOverToTheNextRecord) {
    WeaponFields first;
    first.spell = "Long spell";
    first.proportions.assign(8, 1);
    WeaponFields second;
    second.spell = "";
    second.proportions.clear();
    second.attack = 0;
    second.defence = 0;
    const std::vector<std::string> rows =
        SplitRows(Export(idb::ExportWeapons, {Weapon("A", first), Weapon("B", second)}));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1], Row({{"B"}, General(), {"1.75", "15", "35", "3", ""}, {""}, Shop(), Graphics()}));
}

// -------------------------------------------------------------------------
// Armors

struct ArmorFields {
    std::string main = Singles({1.5f, 0.25f, 0.1f, 0, 0, 0, 0, 0}) + "MMMM";
    int mainLength = -1;
    std::string additional = Singles({2, 0.5f, 0.05f, 0, 0, 0, 0, 1}) + "AAAA";
    std::uint8_t wounds = 200;
    std::int32_t wear = -1;
    std::string spell = "Ward";
    std::array<std::uint8_t, 8> stats{5, 0, 254, 0, 0, 0, 10, 0};
    int fixedLength = -1;  // declared length of wounds, wear and stats
};

RecordBuilder Armor(std::string_view name, const ArmorFields& a) {
    RecordBuilder record(name);
    record.Common(StandardCommon())
        .Field(16, a.main, a.mainLength)
        .Field(17, a.additional)
        .Field(18, std::string(1, static_cast<char>(a.wounds)), a.fixedLength)
        .Field(19, Le32(static_cast<std::uint32_t>(a.wear)), a.fixedLength)
        .Text(20, a.spell)
        .Field(21, std::string(a.stats.begin(), a.stats.end()), a.fixedLength);
    return record;
}

const Cells kMainCells = {"15", "25%", "10%", "0%", "0%", "0%", "0%", "0%"};
const Cells kAdditionalCells = {"20", "50%", "5%", "0%", "0%", "0%", "0%", "100%"};

TEST_F(ExporterTest, ArmorRowWithFullAbsorptionMatchesTheHeader) {
    const std::string table = Export(idb::ExportArmors, {Armor(Cp1251("Шлем"), {})}, ",");
    EXPECT_EQ(table, Row({{Cp1251("Шлем")},
                          General(","),
                          {"Ward"},
                          kMainCells,
                          kAdditionalCells,
                          {"s1 5s3 -2stealth 10"},
                          Shop(),
                          Graphics(),
                          {"-1", "200"}}));
    EXPECT_EQ(Tabs(table), 39);
}

TEST_F(ExporterTest, ArmorAbsorptionCellsFollowFieldLength) {
    struct Case {
        std::string stored;
        int declared;
        Cells cells;
    };
    const Case cases[] = {
        {Singles({1.5f, 0.25f, 0.1f, 0, 0, 0, 0, 0}) + "MMMM", -1, kMainCells},
        {Singles({1.5f, 0.25f, 0.1f, 0, 0, 0, 0}) + "MMMM", -1, {"15", "25%", "10%", "0%", "0%", "0%", "0%"}},
        {Singles({1.5f}) + "MMMM", -1, {"15"}},
        {"MMMM", -1, {}},
        {"", -1, {}},
        // 38 is 9 slots and 2 bytes that are never read.
        {Singles({1.5f, 0.25f, 0.1f, 0, 0, 0, 0, 0}) + "MMMM", 38, kMainCells},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored.size());
        ArmorFields a;
        a.main = c.stored;
        a.mainLength = c.declared;
        EXPECT_EQ(Export(idb::ExportArmors, {Armor("A", a)}),
                  Row({{"A"}, General(), {"Ward"}, c.cells, kAdditionalCells, {"s1 5s3 -2stealth 10"}, Shop(),
                       Graphics(), {"-1", "200"}}));
    }
}

TEST_F(ExporterTest, ArmorStatsCellJoinsLabelledSignedBytes) {
    using Stats = std::array<std::uint8_t, 8>;
    const std::pair<Stats, std::string_view> cases[] = {
        {{0, 0, 0, 0, 0, 0, 0, 0}, ""},
        {{5, 0, 254, 0, 0, 0, 10, 0}, "s1 5s3 -2stealth 10"},
        {{255, 128, 127, 0, 0, 0, 0, 0}, "s1 -1s2 -128s3 127"},
        {{0, 0, 0, 0, 0, 0, 3, 0}, "stealth 3"},
        {{0, 0, 0, 1, 2, 3, 0, 200}, "s4 1s5 2s6 3s8 -56"},
    };
    for (const auto& [stats, text] : cases) {
        SCOPED_TRACE(std::string(text));
        ArmorFields a;
        a.stats = stats;
        const Cells cells = SplitCells(Export(idb::ExportArmors, {Armor("A", a)}));
        ASSERT_EQ(cells.size(), 39u);
        EXPECT_EQ(cells[28], text);
    }
}

TEST_F(ExporterTest, ArmorFixedWidthFieldsIgnoreTheirDeclaredLength) {
    for (int declared : {0, 4, 127}) {
        SCOPED_TRACE(declared);
        ArmorFields a;
        a.fixedLength = declared;
        a.spell = "";
        a.wear = 0x01020304;
        a.wounds = 0;
        const std::vector<std::string> rows = SplitRows(Export(idb::ExportArmors, {Armor("A", a), Armor("B", a)}));
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[1], Row({{"B"}, General(), {""}, kMainCells, kAdditionalCells, {"s1 5s3 -2stealth 10"}, Shop(),
                                Graphics(), {"16909060", "0"}}));
    }
}

TEST_F(ExporterTest, ArmorTextsKeepEveryByteButNul) {
    ArmorFields a;
    a.spell = std::string("Sp\0e\tll", 7);
    const std::string name = std::string("Na\0me\tX", 7);
    const Cells cells = SplitCells(Export(idb::ExportArmors, {Armor(name, a)}));
    // The Tabs inside the texts split the row one more cell each.
    ASSERT_EQ(cells.size(), 41u);
    EXPECT_EQ(cells[0], "Name");
    EXPECT_EQ(cells[1], "X");
    EXPECT_EQ(cells[12], "Spe");
    EXPECT_EQ(cells[13], "ll");
}

// -------------------------------------------------------------------------
// Quick items

struct QuickFields {
    std::int32_t skill = 3;
    float damage = 12.5f;
    std::int32_t damageType = 3;
    std::string spell = "heal";
    std::string dropped8 = "eight";
    std::string dropped9 = "nine";
    int fourByteLength = -1;
};

RecordBuilder Quick(std::string_view name, const QuickFields& q) {
    const int n = q.fourByteLength;
    RecordBuilder record(name);
    record.Common(StandardCommon())
        .Field(16, "DROP", n)
        .Field(17, Le32(static_cast<std::uint32_t>(q.skill)), n)
        .Field(18, SingleBytes(q.damage), n)
        .Field(19, Le32(static_cast<std::uint32_t>(q.damageType)), n)
        .Text(20, q.spell)
        .Text(21, q.dropped8)
        .Text(22, q.dropped9);
    return record;
}

TEST_F(ExporterTest, QuickItemRowHasEveryColumnUnderItsTitle) {
    const std::string table = Export(idb::ExportQuickItems, {Quick(Cp1251("Зелье"), {})});
    EXPECT_EQ(table, Row({{Cp1251("Зелье")}, General(), {"3", "12.5", "termal", "heal"}, Shop(), Graphics()}));
    EXPECT_EQ(Tabs(table), 23);
}

TEST_F(ExporterTest, QuickItemDamageTypeKeepsTheLastValidWord) {
    const std::pair<std::int32_t, std::string_view> steps[] = {
        {7, ""},       {-1, ""},       {3, "termal"},  {-1, "termal"},    {4, "chemic"}, {7, "chemic"},
        {0, "piercing"}, {1, "slashing"}, {2, "bludgeoning"}, {5, "electric"}, {6, "general"}, {kInt32Min, "general"},
    };
    std::vector<RecordBuilder> records;
    for (const auto& [index, word] : steps) {
        QuickFields q;
        q.damageType = index;
        records.push_back(Quick("Q", q));
    }
    const std::vector<std::string> rows = SplitRows(Export(idb::ExportQuickItems, records));
    ASSERT_EQ(rows.size(), std::size(steps));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Cells cells = SplitCells(rows[i]);
        ASSERT_EQ(cells.size(), 23u);
        EXPECT_EQ(cells[13], steps[i].second) << "record " << i << ", index " << steps[i].first;
    }

    // The word outlives the run.
    QuickFields q;
    q.damageType = 99;
    const Cells cells = SplitCells(Export(idb::ExportQuickItems, {Quick("Q", q)}));
    ASSERT_EQ(cells.size(), 23u);
    EXPECT_EQ(cells[13], "general");
}

TEST_F(ExporterTest, QuickItemFieldLengthsDecideOnlyTheTexts) {
    for (int declared : {0, 8, 127}) {
        SCOPED_TRACE(declared);
        QuickFields q;
        q.fourByteLength = declared;
        q.spell = std::string("A\0\tB", 4);
        q.dropped8 = "";
        q.dropped9 = std::string(127, 'z');
        const std::vector<std::string> rows =
            SplitRows(Export(idb::ExportQuickItems, {Quick("One", q), Quick("Two", q)}));
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[1], Row({{"Two"}, General(), {"3", "12.5", "termal", "A\tB"}, Shop(), Graphics()}));
    }
}

// -------------------------------------------------------------------------
// Quest items

TEST(FormatZoneList, DropsTwoCharactersThenJoinsNames) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"", ""},
        {"x", ""},
        {"xy", ""},
        {"xyA", "A"},
        {"xyMarsh\x01" "Castle", "Marsh, Castle"},
        {std::string_view("\0\0Marsh\x01" "Castle", 14), "Marsh, Castle"},
        {"\x01\x01" "A", "A"},
        {"\n\nA", "A"},
        {"xy\x01" "A\x01", ", A, "},
        {"xyA\x01\x01" "B", "A, , B"},
        {std::string_view("xyA\0B\0", 6), "AB"},
        {"xyA\nB\n", "AB"},
        {"xyA\rB\tC", "A\rB\tC"},
        {"xy\x02\x7F\xFF", "\x02\x7F\xFF"},
    };
    for (const auto& [raw, cell] : cases) EXPECT_EQ(idb::FormatZoneList(raw), cell) << raw;
}

RecordBuilder Quest(std::string_view name, std::int32_t scriptId, std::string_view zones, int scriptLength = -1) {
    RecordBuilder record(name);
    record.Common(StandardCommon()).Field(16, Le32(static_cast<std::uint32_t>(scriptId)), scriptLength).Field(17, zones);
    return record;
}

TEST_F(ExporterTest, QuestItemZonesAreFormattedAndNeverCarriedOver) {
    const std::string marshAndCastle = "\x02" + std::string(1, '\0') + Cp1251("Болота") + "\x01" + Cp1251("Замок");
    const std::pair<RecordBuilder, std::string> cases[] = {
        {Quest("a", 1, marshAndCastle), Cp1251("Болота, Замок")},
        {Quest("b", 2, ""), ""},
        {Quest("c", 3, "\x02\x02Z\nY"), "ZY"},
        {Quest("d", 4, "Z"), ""},
        {Quest("e", 5, "\x02\x02"), ""},
        {Quest("f", -6, "..A\x01" "B\rC\tD"), "A, B\rC\tD"},
    };
    std::vector<RecordBuilder> records;
    for (const auto& c : cases) records.push_back(c.first);
    const std::string table = Export(idb::ExportQuestItems, records, ",");
    const std::vector<std::string> rows = SplitRows(table);
    ASSERT_EQ(rows.size(), std::size(cases));
    const char* names[] = {"a", "b", "c", "d", "e", "f"};
    const char* scripts[] = {"1", "2", "3", "4", "5", "-6"};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i], Row({{names[i]}, General(","), {scripts[i], cases[i].second}, Shop(), Graphics()}))
            << "record " << i;
    }
    EXPECT_EQ(Tabs(rows[0]), 21);
}

TEST_F(ExporterTest, QuestItemScriptIdIsFourBytesWhateverItsLength) {
    for (int declared : {0, 2, 127}) {
        SCOPED_TRACE(declared);
        const std::vector<std::string> rows = SplitRows(
            Export(idb::ExportQuestItems, {Quest("a", 7, "..X", declared), Quest("b", 8, "..Y", declared)}));
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[1], Row({{"b"}, General(), {"8", "Y"}, Shop(), Graphics()}));
    }
}

// -------------------------------------------------------------------------
// Loot items and the common block

RecordBuilder Loot(std::string_view name, const CommonFields& common, int ownLength = -1) {
    RecordBuilder record(name);
    record.Common(common).Field(16, "aaaa", ownLength).Field(17, "bbbb", ownLength).Field(18, "cccc", ownLength);
    return record;
}

TEST_F(ExporterTest, LootRowShowsNameAndCommonBlockOnly) {
    const std::string table = Export(idb::ExportLootItems, {Loot(Cp1251("Шкура"), StandardCommon())}, ",");
    EXPECT_EQ(table, Row({{Cp1251("Шкура")}, General(","), Shop(), Graphics()}));
    EXPECT_EQ(Tabs(table), 19);
}

TEST_F(ExporterTest, LootReadsEighteenBytesAfterTheBlock) {
    for (int declared : {0, 1, 8, 127}) {
        SCOPED_TRACE(declared);
        const RecordBuilder one = Loot("One", StandardCommon(), declared);
        const std::vector<std::string> rows =
            SplitRows(Export(idb::ExportLootItems, {one, Loot("Two", StandardCommon(), declared)}));
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[1], Row({{"Two"}, General(), Shop(), Graphics()}));
    }
}

TEST_F(ExporterTest, CommonBlockTextsAndValues) {
    CommonFields f = StandardCommon();
    f.typeName = std::string("AB\0C", 4);
    f.materialType = "";
    f.price = 0.1f;
    f.weight = -0.0f;
    f.size = 1e-5f;
    f.mana = 100;
    f.slots = kInt32Min;
    f.durability = 0.5f;
    f.components = 0;
    f.shopFlags = 256;
    f.deconstructable = 255;
    f.textureTypeIndex = 0;
    f.textureTypeIndex2 = 2147483647;
    f.figureNames = -1;
    EXPECT_EQ(Export(idb::ExportLootItems, {Loot("L", f)}),
              Row({{"L", "0.1", "0", "1E-05", "100", "-2147483648", "0.5", "255", "0", "ABC", ""},
                   {"", "", "", "", ""},
                   {"0", "2147483647", "-1"}}));
}

TEST_F(ExporterTest, CommonBlockIgnoresDeclaredLengthsOfItsNumbers) {
    // Every 4-byte and 1-byte field of the block declared 0 long.
    RecordBuilder record("L");
    record.Text(1, "Type").Field(2, Le32(1), 0).Text(3, "Mat");
    for (std::uint8_t tag = 4; tag <= 6; ++tag) record.Field(tag, Le32(tag), 0);
    for (std::uint8_t tag = 7; tag <= 10; ++tag) record.Field(tag, SingleBytes(static_cast<float>(tag) + 0.5f), 0);
    record.Field(11, Le32(11), 0).Field(12, SingleBytes(12.5f), 0).Field(13, Le32(13), 0).Field(14, Le32(31), 0);
    record.Field(15, "\x0F", 0).Long(16, 0).Long(17, 0).Long(18, 0);
    EXPECT_EQ(Export(idb::ExportLootItems, {record}),
              Row({{"L", "7.5", "8.5", "9.5", "10.5", "11", "12.5", "15", "13", "Type", "Mat"},
                   {"1", "1", "1", "1", "1"},
                   {"5", "6", "4"}}));
}

}  // namespace
