// Databases and archives through .xlsx workbooks: the cells' texts survive
// the typed cells, a workbook packs back byte for byte, a spreadsheet's
// reordering and a person's edit are read as they are meant, and a bad
// workbook is refused with its sheet and cell named.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "gamedb/byte_io.h"
#include "gamedb/cells.h"
#include "gamedb/error.h"
#include "gamedb/folder.h"
#include "gamedb/pack.h"
#include "gamedb/provenance.h"
#include "gamedb/unpack.h"
#include "gamedb/workbook_folder.h"
#include "tests/support/gamedb_gen.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "workbook/workbook.h"

namespace gamedb::testing {
namespace {

namespace fs = std::filesystem;
using idb::testing::Quote;
using idb::testing::TempDir;

GenOptions Lookalikes(std::uint64_t seed) {
    GenOptions options;
    options.seed = seed;
    options.lookalikeRate = 0.3;
    options.oddFloatRate = 0.2;
    options.minRecords = 2;
    return options;
}

// Every cell unpack writes, of every kind, over a few seeds.
std::vector<std::string> AllCells() {
    std::vector<std::string> cells;
    for (const KindSpec& kind : Kinds()) {
        for (std::uint64_t seed = 1; seed <= 4; ++seed) {
            const Bytes bytes = Serialize(Generate(kind, Lookalikes(seed)));
            MemorySource source(bytes, "db");
            MemoryFolder folder;
            Unpack(source, kind, folder);
            for (const auto& [name, text] : folder.Files()) {
                if (!name.ends_with(kTableExtension)) continue;
                std::size_t start = text.find('\n') + 1;   // past the header
                while (start < text.size()) {
                    std::size_t end = text.find("\r\n", start);
                    const std::string line = text.substr(start, end - start);
                    start = end + 2;
                    std::size_t from = 0;
                    for (;;) {
                        const std::size_t tab = line.find('\t', from);
                        cells.push_back(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
                        if (tab == std::string::npos) break;
                        from = tab + 1;
                    }
                }
            }
        }
    }
    return cells;
}

TEST(WorkbookCells, EveryTableCellComesBackAsTheSameText) {
    std::size_t numbers = 0, unmarked = 0;
    for (const std::string& text : AllCells()) {
        const workbook::Cell cell = WorkbookCell(text);
        std::string back;
        ASSERT_TRUE(AppendTableCell(back, cell)) << text;
        ASSERT_EQ(back, text);
        if (cell.kind == workbook::Cell::Kind::Number) {
            ++numbers;
            // What a spreadsheet keeps of a number: 15 significant digits.
            char shown[64];
            std::snprintf(shown, sizeof shown, "%.15g", cell.number);
            ASSERT_EQ(std::stod(shown), cell.number) << text;
        }
        if (cell.kind == workbook::Cell::Kind::Text && text.starts_with(kTextMark) && !cell.text.starts_with(kTextMark))
            ++unmarked;
    }
    // The property means something only when both forms occur.
    EXPECT_GT(numbers, 100u);
    EXPECT_GT(unmarked, 10u);
}

TEST(WorkbookCells, ValuesTypedIntoCellsReadAsTableTexts) {
    const struct {
        workbook::Cell cell;
        const char* table;
    } cases[] = {
        {workbook::Cell::Number(400000), "400000"},
        {workbook::Cell::Number(0.1), "0.1"},
        {workbook::Cell::Number(1e-7), "0.0000001"},
        {workbook::Cell::Number(-2.5), "-2.5"},
        {workbook::Cell::Text("007"), "\\e007"},    // a text cell stays text
        {workbook::Cell::Text("two\nlines\tand a tab"), "two\\nlines\\tand a tab"},
        {workbook::Cell::Text("#00FF"), "#00FF"},
        {workbook::Cell{workbook::Cell::Kind::Boolean, 1, {}}, "1"},
        {workbook::Cell{}, ""},
    };
    for (const auto& c : cases) {
        std::string text;
        ASSERT_TRUE(AppendTableCell(text, c.cell));
        EXPECT_EQ(text, c.table);
    }
    std::string text;
    EXPECT_FALSE(AppendTableCell(text, workbook::Cell{workbook::Cell::Kind::Error, 0, "#N/A"}));
}

Bytes UnpackToBookAndPack(const TempDir& dir, const KindSpec& kind, const Bytes& original, const std::string& stem) {
    const fs::path book = dir / (stem + ".xlsx");
    {
        MemorySource source(original, "db");
        WorkbookOutputFolder out(book);
        Unpack(source, kind, out);
    }
    WorkbookInputFolder in(book);
    MemorySink sink;
    Pack(in, sink);
    return sink.Bytes();
}

TEST(WorkbookRoundTrip, EveryKindComesBackByteForByte) {
    TempDir dir;
    for (const KindSpec& kind : Kinds()) {
        for (std::uint64_t seed = 1; seed <= 3; ++seed) {
            GenOptions options = seed == 3 ? GenOptions::Irregular(seed, 0.05) : Lookalikes(seed);
            options.seed = seed;
            GenDatabase database = Generate(kind, options);
            // A record with no field at all is a row of empty cells but for its number.
            if (seed == 1 && !database.blocks.empty()) database.blocks.front().records.insert(database.blocks.front().records.begin(), GenRecord{});
            const Bytes original = Serialize(database);
            try {
                ASSERT_EQ(UnpackToBookAndPack(dir, kind, original, std::string(kind.name) + std::to_string(seed)), original)
                    << kind.name << " seed " << seed;
            } catch (const Error& e) {
                FAIL() << kind.name << " seed " << seed << ": " << e.what();
            }
        }
    }
}

// A record whose every field is empty (an ack with no unit and empty
// lists) is a row of empty cells but for its number: still a record.
TEST(WorkbookRoundTrip, ARecordOfEmptyFieldsStays) {
    TempDir dir;
    const KindSpec& kind = *FindKind("acks");
    for (std::uint64_t seed = 1; seed <= 400; ++seed) {
        GenOptions options;
        options.seed = seed;
        options.maxTextLength = 1;
        options.maxListItems = 1;
        options.minRecords = 4;
        const Bytes original = Serialize(Generate(kind, options));
        MemorySource source(original, "db");
        MemoryFolder folder;
        Unpack(source, kind, folder);
        bool emptyRow = false;
        for (const auto& [name, text] : folder.Files())
            emptyRow = emptyRow || text.find("\n\t\t\t\r\n") != std::string::npos;
        if (!emptyRow) continue;
        EXPECT_EQ(UnpackToBookAndPack(dir, kind, original, "empty"), original) << "seed " << seed;
        return;
    }
    FAIL() << "no generated ack has a record of empty fields";
}

// A copy of `book` as a spreadsheet might save it: sheets in another
// order, and the rows of each table sheet passed through `rows`.
// A sheet named `drop` is left out.
void Resave(const fs::path& book, const fs::path& copy,
            const std::function<void(const std::string& sheet, std::vector<workbook::Row>&)>& rows,
            const std::string& drop = {}) {
    workbook::WorkbookReader reader(book);
    std::vector<workbook::SheetInfo> sheets = reader.Sheets();
    std::reverse(sheets.begin(), sheets.end());
    workbook::WorkbookWriter writer(copy);
    for (const workbook::SheetInfo& sheet : sheets) {
        if (sheet.name == drop) continue;
        std::vector<workbook::Row> read = reader.ReadSheet(sheet);
        if (!sheet.hidden) rows(sheet.name, read);
        workbook::SheetOptions options;
        options.hidden = sheet.hidden;
        writer.BeginSheet(sheet.name, options);
        for (const workbook::Row& row : read) writer.AddRow(row.cells);
    }
    writer.Close();
}

struct Unpacked {
    Bytes original;
    fs::path book;
};

Unpacked UnpackUnits(const TempDir& dir) {
    const KindSpec& kind = *FindKind("units");
    Unpacked u{Serialize(Generate(kind, Lookalikes(5))), dir / "units.xlsx"};
    MemorySource source(u.original, "db");
    WorkbookOutputFolder out(u.book);
    ProvenanceFolder recorded(out, {}, nullptr);
    Unpack(source, kind, recorded);
    return u;
}

Bytes PackBook(const fs::path& book) {
    WorkbookInputFolder in(book);
    MemorySink sink;
    try {
        Pack(in, sink);
    } catch (const Error& e) {
        throw in.Locate(e);
    }
    return sink.Bytes();
}

TEST(WorkbookRoundTrip, SortedSheetsAndReorderedSheetsPackTheSame) {
    TempDir dir;
    const Unpacked u = UnpackUnits(dir);
    Resave(u.book, dir / "sorted.xlsx", [](const std::string&, std::vector<workbook::Row>& rows) {
        // Data rows reversed, as a sort by some column might leave them.
        if (rows.size() > 2) std::reverse(rows.begin() + 1, rows.end());
        for (std::size_t i = 0; i < rows.size(); ++i) rows[i].index = static_cast<std::uint32_t>(i);
    });
    EXPECT_EQ(PackBook(dir / "sorted.xlsx"), u.original);
    EXPECT_TRUE(EditedWorkbookTables(dir / "sorted.xlsx").empty());
}

TEST(WorkbookRoundTrip, AnEditedCellChangesThatFieldOnly) {
    TempDir dir;
    const Unpacked u = UnpackUnits(dir);
    std::string edited;   // the sheet whose first number cell was changed
    Resave(u.book, dir / "edited.xlsx", [&](const std::string& sheet, std::vector<workbook::Row>& rows) {
        if (!edited.empty() || rows.size() < 2) return;
        for (std::size_t c = 1; c < rows[1].cells.size(); ++c) {
            workbook::Cell& cell = rows[1].cells[c];
            if (cell.kind != workbook::Cell::Kind::Number || cell.number == 777) continue;
            cell = workbook::Cell::Number(777);
            edited = sheet;
            return;
        }
    });
    ASSERT_FALSE(edited.empty());
    const Bytes packed = PackBook(dir / "edited.xlsx");
    EXPECT_NE(packed, u.original);
    EXPECT_EQ(packed.size(), u.original.size());   // one fixed-size number changed
    EXPECT_EQ(EditedWorkbookTables(dir / "edited.xlsx"), std::vector<std::string>{edited + ".tsv"});
}

TEST(WorkbookRoundTrip, AWrongCellIsNamedBySheetRowAndCell) {
    TempDir dir;
    const Unpacked u = UnpackUnits(dir);
    std::string where, cell;
    Resave(u.book, dir / "bad.xlsx", [&](const std::string& sheet, std::vector<workbook::Row>& rows) {
        if (!where.empty() || rows.size() < 3) return;
        for (std::size_t c = 1; c < rows[2].cells.size(); ++c) {
            if (rows[2].cells[c].kind != workbook::Cell::Kind::Number) continue;
            rows[2].cells[c] = workbook::Cell::Text("lots");
            where = "sheet \"" + sheet + "\", block " + sheet + " (tag ";
            cell = ", row 3, column " + rows[0].cells[c].text + " (cell " + workbook::CellName(static_cast<std::uint32_t>(c), 2) + ")";
            return;
        }
    });
    ASSERT_FALSE(where.empty());
    try {
        PackBook(dir / "bad.xlsx");
        FAIL() << "packed a text in a number column";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find(where), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(cell), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("lots"), std::string::npos) << e.what();
    }
}

TEST(WorkbookRoundTrip, AWorkbookWithoutItsIndexOrASheetIsRefused) {
    TempDir dir;
    const Unpacked u = UnpackUnits(dir);
    Resave(u.book, dir / "short.xlsx", [](const std::string&, std::vector<workbook::Row>&) {}, "monsters");
    try {
        PackBook(dir / "short.xlsx");
        FAIL() << "packed without a sheet";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("has no sheet \"monsters\""), std::string::npos) << e.what();
    }
    {
        workbook::WorkbookWriter writer(dir / "plain.xlsx");
        writer.BeginSheet("weapons");
        writer.AddRow(std::vector{workbook::Cell::Text("name")});
        writer.Close();
    }
    WriteBytes(dir / "notzip.xlsx", Bytes{'P', 'K', 3, 4, 0, 0});
    for (const char* name : {"plain.xlsx", "notzip.xlsx", "missing.xlsx"}) {
        try {
            WorkbookInputFolder in(dir / name);
            FAIL() << name << " was read";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
        }
    }
}

// ---- the program ---------------------------------------------------------------

using Result = idb::testing::RunResult;
Result RunGamedb(const TempDir& dir, const std::string& args) { return idb::testing::RunProgram(dir, GAMEDB_PATH, args); }

TEST(WorkbookCli, DatabaseAndArchiveThroughWorkbooksAndADroppedFile) {
    TempDir dir;
    const Bytes items = Serialize(Generate(*FindKind("items"), Lookalikes(2)));
    const Bytes units = Serialize(Generate(*FindKind("units"), Lookalikes(3)));
    WriteBytes(dir / "Items.idb", items);
    WriteBytes(dir / "Units.udb", units);
    WriteBytes(dir / "note.txt", Bytes{'h', 'i'});
    ASSERT_EQ(RunGamedb(dir, "--quiet res create database.res Items.idb Units.udb note.txt").exitCode, 0);
    const Bytes archive = ReadBytes(dir / "database.res");

    // A database: into a workbook and back.
    Result r = RunGamedb(dir, "unpack Items.idb items.xlsx");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = RunGamedb(dir, "--quiet pack items.xlsx Copy.idb");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadBytes(dir / "Copy.idb"), items);
    // Unpacking again over an unedited workbook is fine; over another file it is not.
    EXPECT_EQ(RunGamedb(dir, "--quiet unpack Items.idb items.xlsx").exitCode, 0);
    r = RunGamedb(dir, "--quiet unpack Items.idb note.xlsx");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    WriteBytes(dir / "other.xlsx", Bytes{'x'});
    r = RunGamedb(dir, "--quiet unpack Items.idb other.xlsx");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("not a workbook that gamedb unpack wrote"), std::string::npos) << r.err;
    EXPECT_EQ(ReadBytes(dir / "other.xlsx"), Bytes{'x'});

    // A database that fails half-way leaves no workbook and no temporary file.
    WriteBytes(dir / "Broken.idb", Bytes(items.begin(), items.begin() + static_cast<std::ptrdiff_t>(items.size() / 2)));
    const auto count = [&dir] { return std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()); };
    const auto before = count();
    EXPECT_EQ(RunGamedb(dir, "--quiet unpack Broken.idb broken.xlsx").exitCode, 1);
    EXPECT_EQ(count(), before);

    // An archive: its databases as sheets, its other members left where they are.
    r = RunGamedb(dir, "unpack database.res all.xlsx");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("2 databases as sheets"), std::string::npos) << r.err;
    workbook::WorkbookReader reader(dir / "all.xlsx");
    EXPECT_NE(reader.FindSheet("items.weapons"), nullptr);
    EXPECT_NE(reader.FindSheet("units.monsters"), nullptr);
    r = RunGamedb(dir, "--quiet pack all.xlsx copy.res");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadBytes(dir / "copy.res"), archive);
    r = RunGamedb(dir, "--quiet pack all.xlsx database.res");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadBytes(dir / "database.res"), archive);

    // Dropped on the program: an archive gives database.xlsx (then database (2).xlsx) ...
    r = RunGamedb(dir, "--quiet database.res");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_TRUE(fs::exists(dir / "database.xlsx"));
    ASSERT_EQ(RunGamedb(dir, "--quiet database.res").exitCode, 0);
    EXPECT_TRUE(fs::exists(dir / "database (2).xlsx"));
    // ... and the workbook goes back into the archive it came from, the old one kept.
    r = RunGamedb(dir, "database.xlsx");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadBytes(dir / "database.res"), archive);
    EXPECT_EQ(ReadBytes(dir / "database.res.bak"), archive);
    ASSERT_EQ(RunGamedb(dir, "--quiet database.xlsx").exitCode, 0);
    EXPECT_TRUE(fs::exists(dir / "database.res.2.bak"));
    // A workbook in the community's layout records no source: pack says how to pack it.
    ASSERT_EQ(RunGamedb(dir, "--quiet --layout community unpack Items.idb community.xlsx").exitCode, 0);
    r = RunGamedb(dir, "community.xlsx");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("community's layout"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("gamedb pack \"community.xlsx\" ARCHIVE"), std::string::npos) << r.err;
    // A path that is no file is no dropped file.
    r = RunGamedb(dir, "nothing.res");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("unknown command 'nothing.res'"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace gamedb::testing
