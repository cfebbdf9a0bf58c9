// The gamedb program as a user runs it: exit statuses, messages, files.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/gamedb_gen.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace gamedb::testing {
namespace {

namespace fs = std::filesystem;
using idb::testing::Quote;
using idb::testing::TempDir;

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

using Result = idb::testing::RunResult;

Result RunGamedb(const TempDir& dir, const std::string& args) { return idb::testing::RunProgram(dir, GAMEDB_PATH, args); }

bool Contains(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

// A file name that tells the kind.
std::string FileNameFor(const KindSpec& kind) {
    const std::string pattern(kind.filePattern);
    return pattern[0] == '*' ? "Игра" + pattern.substr(1) : pattern;
}

TEST(GamedbCli, CommandLines) {
    TempDir dir;
    WriteBytes(dir / "data.bin", Bytes{1, 8, 0, 0});
    const struct {
        const char* args;
        int exitCode;
        const char* text;   // in stdout for status 0, in stderr otherwise
    } cases[] = {
        {"--help", 0, "Usage: gamedb"},
        {"--version", 0, "gamedb "},
        {"", 2, "no command given"},
        {"frobnicate", 2, "unknown command 'frobnicate'"},
        {"unpack data.bin", 2, "usage: gamedb unpack DATABASE OUTDIR"},
        {"--bogus unpack data.bin out", 2, "unknown option '--bogus'"},
        {"--kind", 2, "--kind needs a kind"},
        {"--kind nope unpack data.bin out", 2, "unknown kind 'nope'; the kinds are items (*.idb)"},
        {"unpack data.bin out", 2, "cannot tell the kind of database from the name \"data.bin\"; give --kind"},
        {"unpack missing.idb out", 1, "\"missing.idb\", at offset 0x0 (0): cannot open"},
        {"--kind=levers unpack data.bin out", 1, "overruns its parent"},
        {"pack nowhere out.idb", 1, "manifest.txt\", at offset 0x0 (0): cannot open"},
    };
    for (const auto& c : cases) {
        const Result r = RunGamedb(dir, c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args << ": " << r.err;
        EXPECT_TRUE(Contains(c.exitCode == 0 ? r.out : r.err, c.text)) << c.args << ": " << r.out << r.err;
        if (c.exitCode != 0) {
            EXPECT_TRUE(r.err.starts_with("gamedb: ")) << r.err;
        }
    }
    EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST(GamedbCli, UnpackPackRoundTripOfEveryKind) {
    TempDir dir;
    for (const KindSpec& kind : Kinds()) {
        GenOptions options = GenOptions::Irregular(11);
        const Bytes original = Serialize(Generate(kind, options));
        const std::string name = FileNameFor(kind);
        WriteBytes(dir.path() / fs::path(std::u8string(name.begin(), name.end())), original);
        const std::string tables = "таблицы-" + std::string(kind.name);
        const Result unpack = RunGamedb(dir, "unpack " + Quote(name) + " " + Quote(tables));
        ASSERT_EQ(unpack.exitCode, 0) << kind.name << ": " << unpack.err;
        EXPECT_TRUE(Contains(unpack.err, "unpacked")) << unpack.err;
        const Result pack = RunGamedb(dir, "--quiet pack " + Quote(tables) + " packed.db");
        ASSERT_EQ(pack.exitCode, 0) << kind.name << ": " << pack.err;
        EXPECT_TRUE(pack.err.empty()) << pack.err;
        EXPECT_EQ(ReadBytes(dir / "packed.db"), original) << kind.name;
    }
}

TEST(GamedbCli, FailedPackLeavesTheTargetAndSaysWhere) {
    TempDir dir;
    GenOptions options;
    options.minRecords = 1;
    WriteDatabase(dir / "perks.pdb", Generate(*FindKind("perks"), options));
    ASSERT_EQ(RunGamedb(dir, "unpack perks.pdb t").exitCode, 0);
    std::string skills = Text(ReadBytes(dir / "t" / "skills.tsv"));
    // The icon_index cell of the first record.
    const std::size_t row = skills.find("\r\n") + 2;
    std::size_t cell = row;
    for (int tab = 0; tab < 2; ++tab) cell = skills.find('\t', cell) + 1;
    skills.replace(cell, skills.find('\t', cell) - cell, "many");
    WriteBytes(dir / "t" / "skills.tsv", Bytes(skills.begin(), skills.end()));
    WriteBytes(dir / "target.pdb", Bytes{'O', 'L', 'D'});

    const Result r = RunGamedb(dir, "pack t target.pdb");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "skills.tsv\", block skills (tag 1), row 2, column icon_index: bad cell: \"many\", "
                                "expected a whole number from -2147483648 to 2147483647"))
        << r.err;
    EXPECT_EQ(Text(ReadBytes(dir / "target.pdb")), "OLD");
}

TEST(GamedbCli, FailedUnpackKeepsTheEarlierTables) {
    TempDir dir;
    GenOptions options;
    options.minRecords = 2;
    WriteDatabase(dir / "a.qdb", Generate(*FindKind("quests"), options));
    ASSERT_EQ(RunGamedb(dir, "unpack a.qdb t").exitCode, 0);
    const std::string quests = Text(ReadBytes(dir / "t" / "quests.tsv"));
    // Damaged in the second block, after a complete first one.
    const BlockSpec& spec = FindKind("quests")->blocks[0];
    Bytes record;
    for (const GenField& field : RandomRecord(spec.record, 5).fields) AppendNode(record, field.tag, field.payload);
    Bytes blocks;
    AppendNode(blocks, 1, [&] { Bytes r; AppendNode(r, 1, record); return r; }());
    AppendNode(blocks, 2, Bytes{0x01, 0x10});
    Bytes db;
    AppendNode(db, 1, blocks);
    db.insert(db.end(), {0x00, 0x00, 0x02, 0x0C, 0x02, 0x08, 0x01, 0x00, 0x00, 0x00});
    WriteBytes(dir / "a.qdb", db);
    const Result r = RunGamedb(dir, "unpack a.qdb t");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "block briefings (tag 2), record 1")) << r.err;
    EXPECT_EQ(Text(ReadBytes(dir / "t" / "quests.tsv")), quests);
    for (const auto& entry : fs::directory_iterator(dir / "t"))
        EXPECT_TRUE(entry.path().extension() == ".tsv" || entry.path().filename() == "manifest.txt") << entry.path();
}

TEST(GamedbCli, PackUnderAnotherKindsNameNeedsKind) {
    TempDir dir;
    WriteDatabase(dir / "a.ldb", Generate(*FindKind("levers"), GenOptions{}));
    ASSERT_EQ(RunGamedb(dir, "unpack a.ldb t").exitCode, 0);
    WriteBytes(dir / "units.udb", Bytes{'U'});
    const Result refused = RunGamedb(dir, "pack t units.udb");
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(Contains(refused.err, "holds a levers database, but the name \"units.udb\" is that of a units database"))
        << refused.err;
    EXPECT_EQ(Text(ReadBytes(dir / "units.udb")), "U");
    EXPECT_EQ(RunGamedb(dir, "--kind units pack t units.udb").exitCode, 2);
    EXPECT_EQ(RunGamedb(dir, "--kind levers pack t units.udb").exitCode, 0);
    EXPECT_EQ(RunGamedb(dir, "pack t copy.bin").exitCode, 0);
    EXPECT_EQ(ReadBytes(dir / "copy.bin"), ReadBytes(dir / "a.ldb"));
}

TEST(GamedbCli, OutputThatWouldReplaceTheInputIsRefused) {
    TempDir dir;
    const Bytes db = Serialize(Generate(*FindKind("levers"), GenOptions{}));
    fs::create_directories(dir / "t");
    WriteBytes(dir / "t" / "manifest.txt", db);
    const Result r = RunGamedb(dir, "--kind levers unpack t/manifest.txt t");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "refusing to replace the input")) << r.err;
    EXPECT_EQ(ReadBytes(dir / "t" / "manifest.txt"), db);
}

}  // namespace
}  // namespace gamedb::testing
