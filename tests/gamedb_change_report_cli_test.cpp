// pack's change report and unpack's refusal to replace edited tables, as a
// user meets them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "archive/archive.h"
#include "archive/fresh_layout.h"
#include "gamedb/archive_folder.h"
#include "gamedb/error.h"
#include "tests/support/gamedb_gen.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace gamedb::testing {
namespace {

namespace fs = std::filesystem;
using idb::testing::TempDir;

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }
idb::testing::RunResult RunGamedb(const TempDir& dir, const std::string& args) {
    return idb::testing::RunProgram(dir, GAMEDB_PATH, args);
}
bool Has(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

// Sets the cell of `column` in the first record's row of a table.
void EditCell(const fs::path& table, const std::string& column, const std::string& value) {
    std::string text = Text(ReadBytes(table));
    const std::size_t headerEnd = text.find("\r\n"), rowEnd = text.find("\r\n", headerEnd + 2);
    std::size_t index = 0;
    for (std::size_t p = 3, tab; (tab = text.find('\t', p)) < headerEnd && text.substr(p, tab - p) != column; p = tab + 1) ++index;
    std::size_t start = headerEnd + 2;
    for (std::size_t i = 0; i < index; ++i) start = text.find('\t', start) + 1;
    const std::size_t end = std::min(text.find('\t', start), rowEnd);
    text.replace(start, end - start, value);
    WriteBytes(table, Bytes(text.begin(), text.end()));
}

GenDatabase Items() {
    GenOptions options;
    options.minRecords = 2;
    options.oddFloatRate = 0;
    GenDatabase db = Generate(*FindKind("items"), options);
    db.blocks[1].records[0].Find(7)->payload = FloatPayload(3.1415927f);
    return db;
}

TEST(GamedbChangeReportCli, UnpackKeepsEditedTablesUnlessForced) {
    TempDir dir;
    WriteDatabase(dir / "a.idb", Items());
    ASSERT_EQ(RunGamedb(dir, "unpack a.idb t").exitCode, 0);
    ASSERT_EQ(RunGamedb(dir, "unpack a.idb t").exitCode, 0) << "unedited tables are replaced";

    EditCell(dir / "t" / "weapons.tsv", "price", "150");
    const std::string edited = Text(ReadBytes(dir / "t" / "weapons.tsv"));
    auto r = RunGamedb(dir, "unpack a.idb t");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Has(r.err, "holds tables changed since they were unpacked: weapons.tsv;")) << r.err;
    EXPECT_TRUE(Has(r.err, "--force")) << r.err;
    EXPECT_EQ(Text(ReadBytes(dir / "t" / "weapons.tsv")), edited);

    r = RunGamedb(dir, "--force unpack a.idb t");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(Text(ReadBytes(dir / "t" / "weapons.tsv")), edited);

    // A manifest without checksums cannot tell edits: refused too.
    std::string manifest = Text(ReadBytes(dir / "t" / "manifest.txt"));
    manifest.erase(manifest.find("crc32\t"));
    WriteBytes(dir / "t" / "manifest.txt", Bytes(manifest.begin(), manifest.end()));
    r = RunGamedb(dir, "unpack a.idb t");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Has(r.err, "manifest.txt (it records no checksums")) << r.err;
}

TEST(GamedbChangeReportCli, PackReportsChangesAgainstTheSource) {
    TempDir dir;
    WriteDatabase(dir / "a.idb", Items());
    ASSERT_EQ(RunGamedb(dir, "unpack a.idb t").exitCode, 0);
    auto r = RunGamedb(dir, "pack t b.idb");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "no changes from \"")) << r.out;

    // An edit, and the price as a spreadsheet displays it.
    EditCell(dir / "t" / "weapons.tsv", "weight", "77");
    EditCell(dir / "t" / "weapons.tsv", "price", "3.141593");
    r = RunGamedb(dir, "pack t b.idb");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "weapons: 1 changed, 0 added, 0 removed")) << r.out;
    EXPECT_TRUE(Has(r.out, "    weight: ")) << r.out;
    EXPECT_FALSE(Has(r.out, "    price: ")) << r.out;
    EXPECT_TRUE(Has(r.out, "kept 1 values equal to the stored ones")) << r.out;
    EXPECT_TRUE(Has(r.out, "price: 3.141593 kept as 3.1415927")) << r.out;
    EXPECT_TRUE(Has(RunGamedb(dir, "diff a.idb b.idb").out, "weight")) << "the edit landed";
    EXPECT_FALSE(Has(RunGamedb(dir, "diff a.idb b.idb").out, "price")) << "the stored price survived";
    EXPECT_TRUE(Has(RunGamedb(dir, "--as-typed pack t b.idb").out, "price: 3.1415927 -> 3.141593 (the stored value"));
    EXPECT_EQ(RunGamedb(dir, "--quiet pack t b.idb").out, "");

    // Packed over the source, the folder still compares with it: the
    // re-displayed price keeps its stored value pack after pack.
    fs::copy_file(dir / "a.idb", dir / "a-copy.idb");
    for (int i = 0; i < 2; ++i) {
        r = RunGamedb(dir, "pack t a.idb");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(Has(r.out, "price: 3.141593 kept as 3.1415927")) << r.out;
    }
    EXPECT_FALSE(Has(RunGamedb(dir, "diff a-copy.idb a.idb").out, "price"));
    fs::copy_file(dir / "a-copy.idb", dir / "a.idb", fs::copy_options::overwrite_existing);

    // The source changed or gone: no comparison, and pack says why.
    WriteDatabase(dir / "a.idb", Generate(*FindKind("items"), GenOptions{}));
    r = RunGamedb(dir, "pack t b.idb");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(Has(r.out, "no change report: the source \"")) << r.out;
    fs::remove(dir / "a.idb");
    r = RunGamedb(dir, "pack t a.idb");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(Has(r.out, "cannot be read")) << r.out;
}

// Each database folder of an unpacked archive is guarded the same way.
TEST(GamedbChangeReportCli, ArchiveUnpackKeepsEditedTablesUnlessForced) {
    TempDir dir;
    const Bytes db = Serialize(Items());
    const std::vector<resarc::Member> members{resarc::Member{"Data\\Items.idb", 0, std::string(db.begin(), db.end())},
                                              resarc::Member{"map.txt", 0, std::string("map")}};
    resarc::WriteArchive(dir / "game.res", members);
    UnpackArchive(dir / "game.res", dir / "out");
    UnpackArchive(dir / "game.res", dir / "out");
    const fs::path weapons = dir / "out" / "Data" / "Items.idb" / "weapons.tsv";
    EditCell(weapons, "price", "150");
    const std::string edited = Text(ReadBytes(weapons));
    try {
        UnpackArchive(dir / "game.res", dir / "out");
        ADD_FAILURE() << "edited tables replaced";
    } catch (const Error& e) {
        EXPECT_TRUE(Has(e.what(), "weapons.tsv")) << e.what();
    }
    EXPECT_EQ(Text(ReadBytes(weapons)), edited);
    UnpackArchive(dir / "game.res", dir / "out", true);
    EXPECT_NE(Text(ReadBytes(weapons)), edited);
}

}  // namespace
}  // namespace gamedb::testing
