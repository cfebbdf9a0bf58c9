// The whole conversion over one database: the bundled sample against the
// committed tables, the state that carries between runs, how the counters
// treat real framing, and every way a run can stop.
#include "shell/conversion_run.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "export/conversion_error.h"
#include "export/idb_reader.h"
#include "tests/support/idb_builder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/sample_items.h"

namespace fs = std::filesystem;
using idb::testing::Cp1251;
using idb::testing::EncodeSize4;
using idb::testing::Le32;
using idb::testing::ReadFile;
using idb::testing::TempDir;
using idb::testing::RecordBuilder;
using idb::testing::WriteFile;

namespace {

constexpr int kSampleRecords = 30;

const std::array<const char*, idb::kCategoryCount> kTables = {"Materials.txt",  "Weapons.txt",    "Armors.txt",
                                                             "QuickItems.txt", "QuestItems.txt", "LootItems.txt"};

using MakeRecord = RecordBuilder (*)(int);
const std::array<MakeRecord, idb::kCategoryCount> kMakers = {
    idb::testing::SampleMaterial,  idb::testing::SampleWeapon,    idb::testing::SampleArmor,
    idb::testing::SampleQuickItem, idb::testing::SampleQuestItem, idb::testing::SampleLootItem};

// A fresh folder per test, removed with everything in it.

fs::path SourceDir() { return fs::path(IDB_SOURCE_DIR); }
fs::path SamplePath() { return SourceDir() / "samples" / "Items.idb"; }

std::string Expected(std::size_t category) {
    return ReadFile(SourceDir() / "tests" / "data" / "expected" / kTables[category]);
}

// The header text and every data row, each with its CR LF.
struct Table {
    std::string header;
    std::vector<std::string> rows;
};

Table SplitTable(const std::string& text) {
    Table table;
    std::size_t pos = 0;
    int line = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find("\r\n", pos);
        const std::size_t next = end == std::string::npos ? text.size() : end + 2;
        const std::string piece = text.substr(pos, next - pos);
        if (line++ < 2) table.header += piece;
        else table.rows.push_back(piece);
        pos = next;
    }
    return table;
}

// Header and the first `rows` rows of a table.
std::string Through(const std::string& text, std::size_t rows) {
    const Table table = SplitTable(text);
    std::string out = table.header;
    for (std::size_t i = 0; i < rows; ++i) out += table.rows.at(i);
    return out;
}

std::vector<std::string> Cells(const std::string& row) {
    std::vector<std::string> cells;
    std::size_t pos = 0;
    for (std::size_t tab; (tab = row.find('\t', pos)) != std::string::npos; pos = tab + 1) {
        cells.push_back(row.substr(pos, tab - pos));
    }
    EXPECT_EQ(row.substr(pos), "\r\n") << "every row ends with Tab CR LF";
    return cells;
}

// Byte offsets of the bundled sample, taken from the records it is made of.
struct SampleLayout {
    std::array<long long, idb::kCategoryCount> categoryStart{};
    std::array<std::vector<long long>, idb::kCategoryCount> recordStart;
    long long end = 0;  // behind the sixth category, before the trailing bytes
};

SampleLayout Layout() {
    SampleLayout layout;
    long long pos = 5;
    for (std::size_t c = 0; c < idb::kCategoryCount; ++c) {
        layout.categoryStart[c] = pos;
        pos += 5;
        for (int i = 0; i < kSampleRecords; ++i) {
            layout.recordStart[c].push_back(pos);
            pos += static_cast<long long>(kMakers[c](i).Bytes().size());
        }
    }
    layout.end = pos;
    return layout;
}

// A database of raw category bodies, framed as real files are: each
// category's size is the byte size of its records.
std::string RawDatabase(const std::array<std::string, idb::kCategoryCount>& bodies) {
    std::string body;
    for (std::size_t c = 0; c < bodies.size(); ++c) {
        body += static_cast<char>(c + 1);
        body += EncodeSize4(static_cast<std::uint32_t>(bodies[c].size()));
        body += bodies[c];
    }
    return "\x01" + EncodeSize4(static_cast<std::uint32_t>(body.size())) + body;
}

std::string Records(std::initializer_list<RecordBuilder> records) {
    std::string bytes;
    for (const RecordBuilder& r : records) bytes += r.Bytes();
    return bytes;
}

void ExpectTablesAsSample(const fs::path& folder, std::size_t from, std::size_t to) {
    for (std::size_t c = from; c < to; ++c) {
        EXPECT_EQ(ReadFile(folder / kTables[c]), Expected(c)) << kTables[c];
    }
}

void ExpectAbsent(const fs::path& folder, std::size_t from) {
    for (std::size_t c = from; c < idb::kCategoryCount; ++c) {
        EXPECT_FALSE(fs::exists(folder / kTables[c])) << kTables[c] << " must not be created";
    }
}

template <typename Error, typename F>
std::optional<Error> Catch(F&& f) {
    try {
        f();
    } catch (const Error& e) {
        return e;
    }
    return std::nullopt;
}

bool Contains(std::string_view text, std::string_view piece) { return text.find(piece) != std::string_view::npos; }

}  // namespace

// ---------------------------------------------------------------------------
// The bundled sample

TEST(SampleConversion, GivesTheCommittedTables) {
    TempDir out;
    const idb::ConversionSummary summary = idb::ConvertDatabase(SamplePath(), out.path());
    ExpectTablesAsSample(out.path(), 0, idb::kCategoryCount);
    for (long long rows : summary.rows) EXPECT_EQ(rows, kSampleRecords);
    EXPECT_FALSE(idb::ConversionRunning());
}

// Rows worked out by hand from the sample's record recipes, so that the
// committed tables are not merely what the converter happened to write.
TEST(SampleConversion, RowsMatchValuesWorkedOutByHand) {
    const auto row = [](std::size_t category, std::size_t index) {
        return Cells(SplitTable(Expected(category)).rows.at(index));
    };
    using Row = std::vector<std::string>;

    // Materials 2: both unnamed integers right after the name, the
    // absorption values unscaled, shop flags 5 = bits 0 and 2.
    EXPECT_EQ(row(0, 1), (Row{Cp1251("Бронза"), "1", "0", "8.5", "0.75", "1.5", "1", "60", "Material", "bronze",
                              "1.1", "1", "0.05", "0.1", "0.2", "0.125", "0", "0.05", "0.01", "1", "", "1", "", ""}));
    // Weapons 2: damage 0.75 and 1.5 in the file give 7.5 and 7.5 + 15;
    // proportions per cent; both bonuses; shop flags 11 = bits 0, 1, 3.
    EXPECT_EQ(row(1, 1), (Row{Cp1251("Бронзовый меч"), "27.75", "1", "1.5", "2.5", "1", "52.5", "1", "1", "Sword",
                              "bronze", "1.5", "7.5", "22.5", "2", "fireball", "25%", "50%", "25%", "0%", "0%",
                              "10%", "0%", "attack 1, defence 1.5", "1", "1", "", "1", "", "1", "1", "2001"}));
    // Weapons 5: attack bonus zero, only the defence part.
    EXPECT_EQ(row(1, 4).at(23), "defence 1.5");
    // Armors 2: absorption 1.5 × 10, then percentages; spell before the
    // arrays; wear order before apply wounds at the end.
    EXPECT_EQ(row(2, 1), (Row{Cp1251("Бронзовый шлем"),
                              "27.75", "1", "1.5", "2.5", "1", "52.5", "1", "1", "Helm", "bronze", "heal",
                              "15", "25%", "10%", "30%", "0%", "0%", "5%", "0%",
                              "7.5", "10%", "0%", "0%", "20%", "20%", "0%", "0%",
                              "s2 3", "1", "1", "", "1", "", "1", "1", "2001", "1", "1"}));
    EXPECT_EQ(row(2, 0).at(28), "s1 -2");
    // Quick items 5: damage type -1 keeps the word of item 4.
    EXPECT_EQ(row(3, 3).at(13), "termal");
    EXPECT_EQ(row(3, 4), (Row{Cp1251("Свиток молнии"), "64.5", "3.25", "1", "10", "0", "90", "0", "1", "Potion",
                              "glass", "0", "10", "termal", "", "", "", "1", "1", "", "4", "2", "2004"}));
    // Quest items 2: two zones joined; 4: no zone list after one with zones.
    EXPECT_EQ(row(4, 1), (Row{Cp1251("Письмо старосты"), "27.75", "1", "1.5", "2.5", "1", "52.5", "1", "1", "Quest",
                              "none", "501", Cp1251("Старый лес, Деревня"), "1", "1", "", "1", "", "1", "1",
                              "2001"}));
    EXPECT_EQ(row(4, 3).at(12), "");
    // Loot items 3: shop flags 22 = bits 1, 2, 4; texture index 2 = 14 % 5 - 1.
    EXPECT_EQ(row(5, 2), (Row{Cp1251("Рог демона"), "40", "1.75", "2", "5", "2", "65", "0", "2", "Loot", "organic",
                              "", "1", "1", "", "1", "2", "3", "2002"}));
}

TEST(SampleConversion, HeaderLinesHaveTheirGroupTitlesOverTheRightColumns) {
    // Column numbers of the group titles, counted from 1.
    const std::array<std::vector<std::pair<int, std::string>>, idb::kCategoryCount> groups = {{
        {{1, "Name"}, {2, "General"}, {9, "Material"}, {13, "Absorption"}, {20, "Available In"}},
        {{1, "Name"}, {2, "General"}, {10, "Weapon"}, {17, "Damage proportions"}, {24, "Lists"},
         {25, "Available In"}, {30, "Graphics Data"}},
        {{1, "Name"}, {2, "General"}, {10, "Armor"}, {13, "Main"}, {21, "Additional"}, {29, "Lists"},
         {30, "Available In"}, {35, "Graphics Data"}},
        {{1, "Name"}, {2, "General"}, {10, "Quick Items"}, {16, "Available In"}, {21, "Graphics Data"}},
        {{1, "Name"}, {2, "General"}, {10, "Quest Items"}, {14, "Available In"}, {19, "Graphics Data"}},
        {{1, "Name"}, {2, "General"}, {10, "Loot"}, {12, "Available In"}, {17, "Graphics Data"}},
    }};
    const std::array<std::size_t, idb::kCategoryCount> widths = {24, 32, 39, 23, 21, 19};
    for (std::size_t c = 0; c < idb::kCategoryCount; ++c) {
        const std::string header = SplitTable(Expected(c)).header;
        const std::size_t firstEnd = header.find("\r\n");
        // Line 1 has a field per column, the empty ones too; line 2 has no Tab after its last title.
        std::vector<std::string> line1 = Cells(header.substr(0, firstEnd) + "\t\r\n");
        std::vector<std::string> line2 = Cells(header.substr(firstEnd + 2, header.size() - firstEnd - 4) + "\t\r\n");
        ASSERT_EQ(line1.size(), widths[c]) << kTables[c];
        ASSERT_EQ(line2.size(), widths[c]) << kTables[c];
        EXPECT_FALSE(line2.back().empty()) << kTables[c];
        std::size_t titled = 0;
        for (const auto& [column, title] : groups[c]) {
            EXPECT_EQ(line1.at(static_cast<std::size_t>(column - 1)), title) << kTables[c];
            ++titled;
        }
        std::size_t nonEmpty = 0;
        for (const std::string& cell : line1) if (!cell.empty()) ++nonEmpty;
        EXPECT_EQ(nonEmpty, titled) << kTables[c];
        // Every data row has exactly one cell per column title.
        for (const std::string& r : SplitTable(Expected(c)).rows) EXPECT_EQ(Cells(r).size(), widths[c]);
    }
}

TEST(SampleConversion, MakeSampleRegeneratesTheCommittedDatabase) {
    const std::string committed = ReadFile(SamplePath());
    // The recipe the tool uses, in this process...
    EXPECT_EQ(idb::testing::SampleDatabase(kSampleRecords).Trailing(std::string("\x00\x00", 2)).Build(), committed);
    EXPECT_EQ(Layout().end + 2, static_cast<long long>(committed.size()));

    // ...and the tool itself, built beside the converter.
    const fs::path converter(IDB2TXT_PATH);
    const fs::path tool = converter.parent_path() / ("make_sample" + converter.extension().string());
    if (!fs::exists(tool)) GTEST_SKIP() << tool << " is not built";
    TempDir out;
    const std::string command = "'" + tool.string() + "' '" + (out / "Items.idb").string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_EQ(ReadFile(out / "Items.idb"), committed);
}

TEST(SampleConversion, MakeSampleWritesTheBenchmarkMixOfAGivenSize) {
    const fs::path converter(IDB2TXT_PATH);
    const fs::path tool = converter.parent_path() / ("make_sample" + converter.extension().string());
    if (!fs::exists(tool)) GTEST_SKIP() << tool << " is not built";
    TempDir out;
    const auto run = [&](const std::string& option) {
        const std::string command = "'" + tool.string() + "' " + option + " '" + (out / "Mix.idb").string() + "' 2>/dev/null";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    ASSERT_EQ(run("--bytes=200000"), 0);
    EXPECT_EQ(ReadFile(out / "Mix.idb"), idb::testing::LargeDatabase(200000));
    // No size, or one whose generation would need gigabytes, is a usage error.
    for (const char* option : {"--bytes=0", "--bytes=-5", "--bytes=x", "--bytes=2000000000"}) {
        EXPECT_EQ(run(option), 2) << option;
    }
}

TEST(SampleConversion, ReplacesTablesLeftInTheFolder) {
    TempDir out;
    for (const char* table : kTables) WriteFile(out / table, std::string(20000, 'x'));
    idb::ConvertDatabase(SamplePath(), out.path());
    ExpectTablesAsSample(out.path(), 0, idb::kCategoryCount);
}

// ---------------------------------------------------------------------------
// Category framing over a whole run

TEST(CategoryFraming, AllEmptyCategoriesGiveSixHeaderOnlyTables) {
    TempDir dir;
    const fs::path db = dir / "Items.idb";
    WriteFile(db, RawDatabase({}));
    const fs::path out = dir / "out";
    fs::create_directory(out);
    const idb::ConversionSummary summary = idb::ConvertDatabase(db, out);
    for (std::size_t c = 0; c < idb::kCategoryCount; ++c) {
        EXPECT_EQ(ReadFile(out / kTables[c]), SplitTable(Expected(c)).header) << kTables[c];
        EXPECT_EQ(summary.rows[c], 0);
    }
}

TEST(CategoryFraming, EmptyCategoryBetweenTwoFullOnesLeavesTheNextReadable) {
    TempDir dir;
    const fs::path db = dir / "Items.idb";
    using namespace idb::testing;
    WriteFile(db, RawDatabase({Records({SampleMaterial(0), SampleMaterial(1)}), "", Records({SampleArmor(0)}),
                               Records({SampleQuickItem(0)}), "", Records({SampleLootItem(0), SampleLootItem(1)})}));
    const fs::path out = dir / "out";
    fs::create_directory(out);
    idb::ConvertDatabase(db, out);
    EXPECT_EQ(ReadFile(out / "Materials.txt"), Through(Expected(0), 2));
    EXPECT_EQ(ReadFile(out / "Weapons.txt"), Through(Expected(1), 0));
    EXPECT_EQ(ReadFile(out / "Armors.txt"), Through(Expected(2), 1));
    EXPECT_EQ(ReadFile(out / "QuickItems.txt"), Through(Expected(3), 1));
    EXPECT_EQ(ReadFile(out / "QuestItems.txt"), Through(Expected(4), 0));
    EXPECT_EQ(ReadFile(out / "LootItems.txt"), Through(Expected(5), 2));
}

// The smallest size value must not wrap round to the largest limit when one
// is subtracted; negative and tiny values all mean an empty category.
TEST(CategoryFraming, NegativeAndTinySizeValuesGiveAnEmptyCategory) {
    using namespace idb::testing;
    for (const std::int32_t sizeValue : {INT32_MIN, INT32_MIN + 1, -1, 0, 2}) {
        SCOPED_TRACE(sizeValue);
        TempDir dir;
        std::string bytes = RawDatabase({Records({SampleMaterial(0)}), Records({SampleWeapon(0)}), "",
                                         Records({SampleQuickItem(0)}), "", ""});
        // The armors size sits behind the file header, two categories and the armors tag.
        const std::size_t at = 5 + 5 + SampleMaterial(0).Bytes().size() + 5 + SampleWeapon(0).Bytes().size() + 1;
        bytes.replace(at, 4, Le32(static_cast<std::uint32_t>(sizeValue)));
        WriteFile(dir / "Items.idb", bytes);
        const fs::path out = dir / "out";
        fs::create_directory(out);
        idb::ConvertDatabase(dir / "Items.idb", out);
        EXPECT_EQ(ReadFile(out / "Weapons.txt"), Through(Expected(1), 1));
        EXPECT_EQ(ReadFile(out / "Armors.txt"), Through(Expected(2), 0));
        EXPECT_EQ(ReadFile(out / "QuickItems.txt"), Through(Expected(3), 1));
    }
}

// The reader counts a record as HeaderLength + RecordSize, and both include
// the item name's tag byte: HeaderLength takes it as the high byte of the size
// word, RecordSize because the record's size covers the name field. So every
// record is counted one byte longer than it is. In real framing a category's
// limit is the byte size of its records, and with N records the counter
// stands at (bytes of the first N-1) + (N-1) before the last one; when N-1 is
// at least the last record's size, the category ends there. The last record
// is never read, and the next category header is read from its first bytes.
TEST(CategoryFraming, RealFramingSkipsTheLastRecordWhenItIsNoLongerThanTheRecordsBeforeIt) {
    using namespace idb::testing;
    // The skipped record is built so that its bytes, read as headers, say
    // something definite: its first five bytes are the weapons header, whose
    // size value gets the top byte 0x80 from the field tag (negative: no
    // weapons); the field's length byte and value are four more empty headers.
    const std::string emptyHeaders = Le32(0) + "\x04" + Le32(0) + "\x05" + Le32(0) + "\x06" + Le32(0);
    const RecordBuilder last = RecordBuilder("").Field(0x80, emptyHeaders);
    const std::size_t lastSize = last.Bytes().size();
    ASSERT_EQ(lastSize, 25u);

    std::string materials;
    std::vector<std::string> names;
    for (std::size_t i = 0; i < lastSize; ++i) {  // N - 1 == the last record's size
        names.push_back("m" + std::to_string(i));
        materials += RecordBuilder(names.back()).Long(3, static_cast<std::int32_t>(i)).Bytes();
    }
    materials += last.Bytes();
    // A real weapons category follows; the run never gets to it.
    TempDir dir;
    WriteFile(dir / "Items.idb",
              RawDatabase({materials, Records({SampleWeapon(0)}), Records({SampleArmor(0)}), "", "", ""}));
    const fs::path out = dir / "out";
    fs::create_directory(out);
    const idb::ConversionSummary summary = idb::ConvertDatabase(dir / "Items.idb", out);

    EXPECT_EQ(summary.rows[0], static_cast<long long>(lastSize));
    const Table table = SplitTable(ReadFile(out / "Materials.txt"));
    ASSERT_EQ(table.rows.size(), lastSize);
    for (std::size_t i = 0; i < lastSize; ++i) {
        const std::vector<std::string> cells = Cells(table.rows[i]);
        EXPECT_EQ(cells.at(0), names[i]);
        EXPECT_EQ(cells.at(1), std::to_string(i));
    }
    for (std::size_t c = 1; c < idb::kCategoryCount; ++c) {
        EXPECT_EQ(ReadFile(out / kTables[c]), Through(Expected(c), 0)) << kTables[c];
        EXPECT_EQ(summary.rows[c], 0);
    }
}

// ---------------------------------------------------------------------------
// State that outlives a run

TEST(RunState, MaterialValuesAndDamageTypeCarryIntoTheNextRun) {
    TempDir dir;
    const fs::path out = dir / "out";
    fs::create_directory(out);
    idb::ConvertDatabase(SamplePath(), out);

    // A material with its two integers and a price only, and a quick item
    // without a damage type of its own.
    using namespace idb::testing;
    CommonFields common;
    common.typeName = "Potion";
    common.materialType = "glass";
    RecordBuilder quick = RecordBuilder("q").Common(common);
    quick.Long(21, 0).Long(22, 0).Single(23, 0).Long(24, 9).Text(25, "").Text(26, "").Text(27, "");
    WriteFile(dir / "Second.idb",
              RawDatabase({Records({RecordBuilder(Cp1251("Опал")).Long(3, 9).Single(4, 2.5f).Long(12, 4)}), "", "",
                           Records({quick}), "", ""}));
    idb::ConvertDatabase(dir / "Second.idb", out);

    // Everything but the name, the integers and the price comes from the
    // last material of the first run.
    std::vector<std::string> expected = Cells(SplitTable(Expected(0)).rows.back());
    expected[0] = Cp1251("Опал");
    expected[1] = "9";
    expected[2] = "4";
    expected[3] = "2.5";
    const Table materials = SplitTable(ReadFile(out / "Materials.txt"));
    ASSERT_EQ(materials.rows.size(), 1u);
    EXPECT_EQ(Cells(materials.rows[0]), expected);

    const std::string lastWord = Cells(SplitTable(Expected(3)).rows.back()).at(13);
    ASSERT_FALSE(lastWord.empty());
    const Table quickItems = SplitTable(ReadFile(out / "QuickItems.txt"));
    ASSERT_EQ(quickItems.rows.size(), 1u);
    EXPECT_EQ(Cells(quickItems.rows[0]).at(13), lastWord);

    // The second run replaced every table of the first.
    for (std::size_t c : {1u, 2u, 4u, 5u}) EXPECT_EQ(ReadFile(out / kTables[c]), Through(Expected(c), 0));
}

// ---------------------------------------------------------------------------
// The yield hook

TEST(YieldHook, IsCalledOncePerMaterialsFieldAndNowhereElse) {
    TempDir out;
    int calls = 0;
    idb::ConversionSettings settings;
    settings.yield = [&] { ++calls; };
    idb::ConvertDatabase(SamplePath(), out.path(), settings);
    EXPECT_EQ(calls, kSampleRecords * 13);  // every sample material has tags 1 to 13

    // A field of an unknown tag counts too; a record without fields does not.
    using namespace idb::testing;
    TempDir dir;
    WriteFile(dir / "Items.idb",
              RawDatabase({Records({RecordBuilder("a").Text(1, "T").Field(99, "").Long(3, 1), RecordBuilder("b")}),
                           Records({SampleWeapon(0)}), "", "", "", Records({SampleLootItem(0)})}));
    calls = 0;
    idb::ConvertDatabase(dir / "Items.idb", dir.path(), settings);
    EXPECT_EQ(calls, 3);
}

namespace {
struct StopRequested {};
}  // namespace

TEST(YieldHook, ThrowingStopsTheRunAndKeepsWhatWasWritten) {
    TempDir out;
    int calls = 0;
    idb::ConversionSettings settings;
    // The first field of the third material.
    settings.yield = [&] {
        if (++calls == 2 * 13 + 1) throw StopRequested{};
    };
    EXPECT_THROW(idb::ConvertDatabase(SamplePath(), out.path(), settings), StopRequested);
    EXPECT_FALSE(idb::ConversionRunning());
    // Two full rows and the name cell of the third, written before its fields.
    EXPECT_EQ(ReadFile(out / "Materials.txt"), Through(Expected(0), 2) + Cp1251("Сталь") + "\t");
    ExpectAbsent(out.path(), 1);

    // The stopped run leaves nothing that blocks the next one.
    idb::ConvertDatabase(SamplePath(), out.path());
    ExpectTablesAsSample(out.path(), 0, idb::kCategoryCount);
}

TEST(YieldHook, SecondConversionFromInsideTheHookIsRefused) {
    TempDir out;
    TempDir other;
    int refused = 0;
    int calls = 0;
    idb::ConversionSettings settings;
    settings.yield = [&] {
        ++calls;
        if (calls != 1 && calls != 200) return;
        EXPECT_TRUE(idb::ConversionRunning());
        try {
            idb::ConvertDatabase(SamplePath(), other.path());
        } catch (const idb::ConversionError& e) {
            EXPECT_TRUE(Contains(e.what(), "already running")) << e.what();
            ++refused;
        }
    };
    idb::ConvertDatabase(SamplePath(), out.path(), settings);
    EXPECT_EQ(refused, 2);
    EXPECT_FALSE(idb::ConversionRunning());
    ExpectTablesAsSample(out.path(), 0, idb::kCategoryCount);
    EXPECT_TRUE(fs::is_empty(other.path())) << "the refused run must not touch its folder";
}

// ---------------------------------------------------------------------------
// A damaged or short database

namespace {

struct Truncation {
    const char* what;
    long long cut;                 // file length
    std::size_t category;          // where the run stops
    std::optional<int> record;     // record number in the message, if any
    long long offset;              // reported byte offset
    std::string partial;           // the stopped category's table; empty: not created
};

void ExpectStopsAt(const Truncation& t) {
    SCOPED_TRACE(t.what);
    TempDir dir;
    const fs::path db = dir / "Items.idb";
    WriteFile(db, ReadFile(SamplePath()).substr(0, static_cast<std::size_t>(t.cut)));
    const fs::path out = dir / "out";
    fs::create_directory(out);

    const auto error = Catch<idb::IdbFormatError>([&] { idb::ConvertDatabase(db, out); });
    ASSERT_TRUE(error.has_value()) << "a short database must stop the run";
    const std::string message = error->what();
    EXPECT_TRUE(Contains(message, idb::QuotePath(db))) << message;
    EXPECT_TRUE(Contains(message, std::string(idb::Categories()[t.category].name) + " category")) << message;
    if (t.record) EXPECT_TRUE(Contains(message, "record " + std::to_string(*t.record) + ":")) << message;
    else EXPECT_FALSE(Contains(message, ", record ")) << message;
    EXPECT_TRUE(Contains(message, "(" + std::to_string(t.offset) + ")")) << message;
    EXPECT_EQ(error->Offset(), t.offset);
    EXPECT_FALSE(idb::ConversionRunning());

    ExpectTablesAsSample(out, 0, t.category);
    if (t.partial.empty()) {
        ExpectAbsent(out, t.category);
    } else {
        EXPECT_EQ(ReadFile(out / kTables[t.category]), t.partial);
        ExpectAbsent(out, t.category + 1);
    }
}

}  // namespace

TEST(DamagedDatabase, TruncationStopsTheRunWhereTheDataEnds) {
    using namespace idb::testing;
    const SampleLayout layout = Layout();

    // Inside the file header: the materials table is already there.
    ExpectStopsAt({"file header", 3, 0, std::nullopt, 1, Through(Expected(0), 0)});

    // Half-way through the price of the third material: the name and the
    // tag-3 cell that precede it are on disk.
    const long long material3 = layout.recordStart[0][2];
    const RecordBuilder upToPrice = RecordBuilder(Cp1251("Сталь")).Text(1, "Material").Text(2, "steel").Long(3, 2);
    ASSERT_LE(SampleMaterial(2).Content().size(), 127u);  // a one-byte size
    const long long price = material3 + 2 + static_cast<long long>(upToPrice.Content().size()) + 2;
    ExpectStopsAt({"materials field", price + 2, 0, 3, price, Through(Expected(0), 2) + Cp1251("Сталь") + "\t2\t"});

    // Right after the tag of the fifth weapon.
    const long long weapon5 = layout.recordStart[1][4];
    ExpectStopsAt({"weapon record header", weapon5 + 1, 1, 5, weapon5 + 1, Through(Expected(1), 4)});

    // Before the loot items header: that table is never created.
    const long long loot = layout.categoryStart[5];
    ExpectStopsAt({"loot category header", loot, 5, std::nullopt, loot, ""});

    // In the last loot field: the loot row is written before those fields
    // are read, so all its cells are on disk, without the row end.
    const std::string lootTable = Expected(5);
    ExpectStopsAt({"last loot field", layout.end - 2, 5, kSampleRecords, layout.end - 4,
                   lootTable.substr(0, lootTable.size() - 2)});
}

TEST(DamagedDatabase, SizeWordWithBitFifteenStopsTheRun) {
    using namespace idb::testing;
    for (const std::uint16_t sizeWord : std::array<std::uint16_t, 3>{0x8000, 0xFFFF, 0x8102}) {
        SCOPED_TRACE(sizeWord);
        TempDir dir;
        const std::string damaged = "\x01" + Le16(sizeWord) + std::string(40, '\x02');
        const std::string materials = SampleMaterial(0).Bytes();
        WriteFile(dir / "Items.idb", RawDatabase({materials, Records({SampleWeapon(0)}) + damaged, "", "", "", ""}));
        const fs::path out = dir / "out";
        fs::create_directory(out);
        const auto error = Catch<idb::IdbFormatError>([&] { idb::ConvertDatabase(dir / "Items.idb", out); });
        ASSERT_TRUE(error.has_value());
        const std::string message = error->what();
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%04X", static_cast<unsigned>(sizeWord));
        EXPECT_TRUE(Contains(message, hex)) << message;
        EXPECT_TRUE(Contains(message, "weapons category, record 2:")) << message;
        EXPECT_TRUE(Contains(message, idb::QuotePath(dir / "Items.idb"))) << message;
        // Where the header of the second weapon starts, not after its size word.
        const long long recordStart = 5 + 5 + static_cast<long long>(materials.size()) + 5 +
                                      static_cast<long long>(SampleWeapon(0).Bytes().size());
        EXPECT_EQ(error->Offset(), recordStart);
        EXPECT_TRUE(Contains(message, "at offset " + idb::Hex(recordStart) + " (")) << message;
        EXPECT_EQ(ReadFile(out / "Materials.txt"), Through(Expected(0), 1));
        EXPECT_EQ(ReadFile(out / "Weapons.txt"), Through(Expected(1), 1));
        ExpectAbsent(out, 2);
    }
}

// ---------------------------------------------------------------------------
// Files that cannot be opened, created or written

TEST(FileFailures, MissingDatabaseIsReportedAndNothingIsWritten) {
    TempDir out;
    const fs::path db = out / "nowhere" / "Items.idb";
    const auto error = Catch<idb::ConversionError>([&] { idb::ConvertDatabase(db, out.path()); });
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(Contains(error->what(), idb::QuotePath(db))) << error->what();
    EXPECT_EQ(error->Code(), std::errc::no_such_file_or_directory);
    EXPECT_TRUE(Contains(error->what(), error->Code().message())) << error->what();
    EXPECT_TRUE(fs::is_empty(out.path()));
    EXPECT_FALSE(idb::ConversionRunning());
}

TEST(FileFailures, TableThatCannotBeCreatedStopsTheRunThere) {
    TempDir out;
    fs::create_directory(out / "Weapons.txt");
    const auto error = Catch<idb::ConversionError>([&] { idb::ConvertDatabase(SamplePath(), out.path()); });
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(Contains(error->what(), idb::QuotePath(out / "Weapons.txt"))) << error->what();
    EXPECT_EQ(error->Code(), std::errc::is_a_directory);
    EXPECT_TRUE(Contains(error->what(), error->Code().message())) << error->what();
    ExpectTablesAsSample(out.path(), 0, 1);
    ExpectAbsent(out.path(), 2);
    EXPECT_FALSE(idb::ConversionRunning());
}

TEST(FileFailures, MissingOutputFolderIsReportedWithTheTablePath) {
    TempDir dir;
    const fs::path out = dir / "not-there";
    const auto error = Catch<idb::ConversionError>([&] { idb::ConvertDatabase(SamplePath(), out); });
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(Contains(error->what(), idb::QuotePath(out / "Materials.txt"))) << error->what();
    EXPECT_EQ(error->Code(), std::errc::no_such_file_or_directory);
    EXPECT_FALSE(fs::exists(out));
}

TEST(FileFailures, FullDiskStopsTheRunAtTheTableThatDidNotFit) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    TempDir out;
    fs::create_symlink("/dev/full", out / "Armors.txt");
    const auto error = Catch<idb::ConversionError>([&] { idb::ConvertDatabase(SamplePath(), out.path()); });
    ASSERT_TRUE(error.has_value()) << "a table that did not reach the disk must be reported";
    EXPECT_TRUE(Contains(error->what(), idb::QuotePath(out / "Armors.txt"))) << error->what();
    EXPECT_EQ(error->Code(), std::errc::no_space_on_device);
    EXPECT_TRUE(Contains(error->what(), error->Code().message())) << error->what();
    ExpectTablesAsSample(out.path(), 0, 2);
    ExpectAbsent(out.path(), 3);
    EXPECT_FALSE(idb::ConversionRunning());
}

// ---------------------------------------------------------------------------
// What is refused before anything is written

TEST(Refusals, FileThatIsNotADatabaseWritesNothing) {
    struct Case {
        const char* name;
        std::string bytes;
        const char* problem;
    };
    const Case cases[] = {
        {"empty", "", "the file is empty"},
        {"text", "A plain text", "its first byte is 0x41, not 0x1"},
        {"zero", std::string("\0\x01\x02", 3), "its first byte is 0x0, not 0x1"},
        {"almost", "\x02" + ReadFile(SamplePath()).substr(1), "its first byte is 0x2, not 0x1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        WriteFile(dir / "db.idb", c.bytes);
        idb::ConversionSettings settings;
        settings.createOutputFolder = true;
        const auto error =
            Catch<idb::NotDatabaseError>([&] { idb::ConvertDatabase(dir / "db.idb", dir / "out", settings); });
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->Problem(), c.problem);
        EXPECT_EQ(error->Path(), dir / "db.idb");
        EXPECT_FALSE(fs::exists(dir / "out")) << "the folder is created only for a run that can go ahead";
        EXPECT_EQ(ReadFile(dir / "db.idb"), c.bytes);
        EXPECT_FALSE(idb::ConversionRunning());
    }
}

TEST(Refusals, FolderGivenAsTheDatabaseIsReportedWithTheReason) {
    TempDir dir;
    fs::create_directory(dir / "Items.idb");
    const auto error = Catch<idb::ConversionError>([&] { idb::ConvertDatabase(dir / "Items.idb", dir.path()); });
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->Kind(), idb::FailureKind::OpenDatabase);
    EXPECT_EQ(error->Code(), std::errc::is_a_directory);
    EXPECT_TRUE(Contains(error->what(), error->Code().message())) << error->what();
    ExpectAbsent(dir.path(), 0);
}

// A table of the run that is the database itself, reached by every road a
// file system offers: the same name, a hard link, a symbolic link either way.
TEST(Refusals, TableThatIsTheDatabaseItselfWritesNothing) {
    struct Case {
        const char* name;
        void (*arrange)(const fs::path& db, const fs::path& out);
        fs::path (*database)(const fs::path& db, const fs::path& out);
        const char* table;
    };
    const Case cases[] = {
        {"named like a table", [](const fs::path& db, const fs::path& out) { fs::copy_file(db, out / "Armors.txt"); },
         [](const fs::path&, const fs::path& out) { return out / "Armors.txt"; }, "Armors.txt"},
        {"named like the first table",
         [](const fs::path& db, const fs::path& out) { fs::copy_file(db, out / "Materials.txt"); },
         [](const fs::path&, const fs::path& out) { return out / "." / "Materials.txt"; }, "Materials.txt"},
        {"hard link", [](const fs::path& db, const fs::path& out) { fs::create_hard_link(db, out / "LootItems.txt"); },
         [](const fs::path& db, const fs::path&) { return db; }, "LootItems.txt"},
        {"table is a symbolic link",
         [](const fs::path& db, const fs::path& out) { fs::create_symlink(db, out / "QuestItems.txt"); },
         [](const fs::path& db, const fs::path&) { return db; }, "QuestItems.txt"},
        {"database is a symbolic link",
         [](const fs::path& db, const fs::path& out) {
             fs::copy_file(db, out / "Weapons.txt");
             fs::create_symlink(out / "Weapons.txt", db.parent_path() / "link.idb");
         },
         [](const fs::path& db, const fs::path&) { return db.parent_path() / "link.idb"; }, "Weapons.txt"},
    };
    const std::string sample = ReadFile(SamplePath());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const fs::path db = dir / "Items.idb";
        const fs::path out = dir / "out";
        fs::create_directory(out);
        WriteFile(db, sample);
        c.arrange(db, out);
        const fs::path database = c.database(db, out);
        const auto error = Catch<idb::TableIsDatabaseError>([&] { idb::ConvertDatabase(database, out); });
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->Path().filename(), c.table);
        EXPECT_TRUE(Contains(error->what(), "nothing was written")) << error->what();
        EXPECT_EQ(ReadFile(database), sample) << "the database must stay as it was";
        for (const char* table : kTables) {
            if (table != std::string_view(c.table)) {
                EXPECT_FALSE(fs::exists(out / table)) << table;
            }
        }
        EXPECT_FALSE(idb::ConversionRunning());
    }
}

TEST(Refusals, SameContentInAnotherFileIsNoReasonToRefuse) {
    TempDir dir;
    fs::create_directory(dir / "out");
    fs::copy_file(SamplePath(), dir / "out" / "Armors.txt");
    fs::copy_file(SamplePath(), dir / "Armors.txt");
    idb::ConvertDatabase(dir / "Armors.txt", dir / "out");
    ExpectTablesAsSample(dir / "out", 0, idb::kCategoryCount);
}

// ---------------------------------------------------------------------------
// A database that can be read only once

TEST(OneReadInput, FifoIsReadOnceAndGivesTheSampleTables) {
    TempDir dir;
    const fs::path fifo = dir / "Items.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string sample = ReadFile(SamplePath());
    // The writer opens after the reader, as a shell pipeline would.
    std::thread writer([&] {
        std::FILE* file = std::fopen(fifo.c_str(), "wb");
        if (!file) return;
        std::fwrite(sample.data(), 1, sample.size(), file);
        std::fclose(file);
    });
    fs::create_directory(dir / "out");
    // A run that stops early must not kill the test through SIGPIPE, nor
    // leave the writer waiting for a reader for ever.
    void (*previous)(int) = std::signal(SIGPIPE, SIG_IGN);
    EXPECT_NO_THROW(idb::ConvertDatabase(fifo, dir / "out"));
    const int release = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    writer.join();
    if (release >= 0) ::close(release);
    std::signal(SIGPIPE, previous);
    ExpectTablesAsSample(dir / "out", 0, idb::kCategoryCount);
}

TEST(Refusals, SignatureReadApartTellsANonDatabaseFromAFileThatCannotBeOpened) {
    TempDir dir;
    WriteFile(dir / "good.idb", "\x01rest");
    WriteFile(dir / "empty.idb", "");
    WriteFile(dir / "text.idb", "text");
    fs::create_directory(dir / "folder.idb");
    using idb::SignatureVerdict;
    struct Case {
        const char* name;
        SignatureVerdict verdict;
        std::error_code error;
    };
    const Case cases[] = {
        {"good.idb", SignatureVerdict::Database, {}},
        {"empty.idb", SignatureVerdict::NotDatabase, {}},
        {"text.idb", SignatureVerdict::NotDatabase, {}},
        {"missing.idb", SignatureVerdict::CannotOpen, std::make_error_code(std::errc::no_such_file_or_directory)},
        {"folder.idb", SignatureVerdict::CannotOpen, std::make_error_code(std::errc::is_a_directory)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const idb::SignatureCheck check = idb::InspectSignature(dir / c.name);
        EXPECT_EQ(check.verdict, c.verdict);
        EXPECT_EQ(check.error, c.error);
    }
}
