// The archive commands of the gamedb program as a modder runs them: exit
// statuses, messages, files.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <vector>
#include <filesystem>
#include <string>

#include "archive/archive.h"
#include "archive/cp1251.h"
#include "archive/file_util.h"
#include "tests/support/gamedb_gen.h"
#include "tests/support/idb_builder.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using idb::testing::Quote;
using idb::testing::ReadFile;
using idb::testing::TempDir;
using idb::testing::WriteFile;

namespace {

using Result = idb::testing::RunResult;
using idb::testing::RunProgram;

Result Gamedb(const TempDir& dir, const std::string& args) { return RunProgram(dir, GAMEDB_PATH, args); }

bool Contains(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

std::string Items(std::uint64_t seed) {
    gamedb::testing::GenOptions options;
    options.seed = seed;
    options.minRecords = 2;
    options.maxRecords = 3;
    options.duplicateKeyRate = 0;
    const gamedb::testing::Bytes bytes = gamedb::testing::Serialize(gamedb::testing::Generate(*gamedb::FindKind("items"), options));
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

TEST(ArchiveCli, CreateListExtractAddReplaceRemove) {
    TempDir dir;
    fs::create_directories(dir / "z3q1");
    WriteFile(dir / "z3q1" / "map.txt", "map");
    WriteFile(dir / "briefing", "brief");
    WriteFile(dir.path() / resarc::PathFromUtf8("Карта.txt"), "карта");

    Result r = Gamedb(dir, "res create z.mq briefing ./z3q1/map.txt Карта.txt");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "gamedb: created \"z.mq\": 3 members now\n");

    r = Gamedb(dir, "--quiet res list z.mq");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const resarc::Archive archive = resarc::Archive::Open(dir / "z.mq");
    const std::string time = resarc::FormatTime(archive.Entries()[0].time);
    EXPECT_EQ(r.out, "           5  " + time + "  briefing\n           3  " + time + "  z3q1\\map.txt\n" +
                         "          10  " + time + "  Карта.txt\n");

    r = Gamedb(dir, "res extract z.mq -o out");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(dir / "out" / "z3q1" / "map.txt"), "map");
    EXPECT_EQ(ReadFile(dir / "out" / resarc::PathFromUtf8("Карта.txt")), "карта");
    r = Gamedb(dir, "res extract z.mq КАРТА.TXT Z3Q1/MAP.TXT -o some");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir / "some" / "z3q1" / "map.txt"));
    EXPECT_FALSE(fs::exists(dir / "some" / "briefing"));

    WriteFile(dir / "Items.idb", Items(1));
    r = Gamedb(dir, "res add z.mq Items.idb --as Data/Items.idb");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    WriteFile(dir / "new map", "new map");
    r = Gamedb(dir, "res replace z.mq 'new map' --as z3q1/MAP.txt");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = Gamedb(dir, "res remove z.mq BRIEFING");
    ASSERT_EQ(r.exitCode, 0) << r.err;

    const resarc::Archive changed = resarc::Archive::Open(dir / "z.mq");
    ASSERT_EQ(changed.Entries().size(), 3u);
    EXPECT_EQ(changed.Entries()[0].name, "z3q1\\map.txt");
    EXPECT_EQ(changed.Read(changed.Entries()[0]), "new map");
    EXPECT_EQ(changed.Entries()[2].name, "Data\\Items.idb");
    EXPECT_EQ(changed.Read(changed.Entries()[2]), Items(1));

    // A database member is checked and compared in place.
    r = Gamedb(dir, "check z.mq:data/items.idb");
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    r = Gamedb(dir, "diff Items.idb z.mq:Data\\\\Items.idb");
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    WriteFile(dir / "Other.idb", Items(2));
    r = Gamedb(dir, "diff z.mq:Data/Items.idb Other.idb");
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
}

TEST(ArchiveCli, FailuresAndMistakes) {
    TempDir dir;
    WriteFile(dir / "a.txt", "a");
    ASSERT_EQ(Gamedb(dir, "res create z.res a.txt").exitCode, 0);
    const std::string original = ReadFile(dir / "z.res");
    WriteFile(dir / "broken.res", original.substr(0, original.size() - 1));
    struct Case {
        const char* args;
        int exitCode;
        const char* message;
    };
    const Case kCases[] = {
        {"res", 2, "usage: gamedb res list|extract|add|replace|remove|create ARCHIVE"},
        {"res list", 2, "usage: gamedb res list|extract"},
        {"res frobnicate z.res", 2, "usage: gamedb res list|extract"},
        {"res extract z.res", 2, "res extract needs -o DIR"},
        {"res add z.res a.txt", 1, "archive \"z.res\": already has a member \"a.txt\" (replace it instead)"},
        {"res replace z.res missing.txt", 1, "\"missing.txt\""},
        {"res remove z.res b.txt", 1, "archive \"z.res\": has no member \"b.txt\" to remove"},
        {"res add z.res ../a.txt", 2, "leaves the current folder); give the name with --as"},
        {"res add z.res a.txt --as 日本", 2, "has characters that Windows-1251 cannot hold"},
        {"res add z.res z.res --as self", 2, "refusing to put the archive \"z.res\" into itself"},
        {"res list broken.res", 1, "archive \"broken.res\": header does not fit the file"},
        {"res list missing.res", 1, "archive \"missing.res\": cannot open"},
        {"res extract z.res b.txt -o out", 1, "no member \"b.txt\""},
        {"check z.res", 2, "\"z.res\" is an archive; name a database in it as ARCHIVE:MEMBER (it holds none)"},
        {"unpack broken.res out", 1, "header does not fit the file"},
    };
    for (const Case& c : kCases) {
        const Result r = Gamedb(dir, c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args << ": " << r.err;
        EXPECT_TRUE(Contains(r.err, c.message)) << c.args << ": " << r.err;
        EXPECT_TRUE(ReadFile(dir / "z.res") == original) << c.args;
    }
    EXPECT_FALSE(fs::exists(dir / "out"));
}

// The one-step workflow: unpack the archive, change a price, pack it back
// over the archive; only that database is replaced.
TEST(ArchiveCli, UnpackEditPackAnArchive) {
    TempDir dir;
    WriteFile(dir / "Items.idb", Items(3));
    WriteFile(dir / "readme.txt", "text");
    ASSERT_EQ(Gamedb(dir, "res create game.res readme.txt Items.idb").exitCode, 0);

    Result r = Gamedb(dir, "unpack game.res mod");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "1 databases as tables, 1 other members as files")) << r.err;
    r = Gamedb(dir, "pack mod game.res");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "nothing changed; 2 members unchanged")) << r.err;

    // The price of the first weapon, the fifth column of weapons.tsv.
    const fs::path weapons = dir / "mod" / "Items.idb" / "weapons.tsv";
    std::string table = ReadFile(weapons);
    const std::size_t header = table.find("\r\n");
    ASSERT_NE(header, std::string::npos);
    std::size_t column = 0;
    for (std::size_t at = 0; at < header; at = table.find('\t', at) + 1, ++column) {
        if (table.compare(at, 6, "price\t") == 0) break;
    }
    std::size_t cell = header + 2;
    for (std::size_t i = 0; i < column; ++i) cell = table.find('\t', cell) + 1;
    table.replace(cell, table.find('\t', cell) - cell, "12345");
    WriteFile(weapons, table);

    r = Gamedb(dir, "pack mod game.res");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "replaced \"Items.idb\"; 1 members unchanged")) << r.err;
    r = Gamedb(dir, "diff Items.idb game.res:Items.idb");
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_TRUE(Contains(r.out, "12345")) << r.out;
    // One database of the archive on its own: unpack the member, pack it back into it.
    r = Gamedb(dir, "unpack game.res:items.idb single");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = Gamedb(dir, "pack single game.res:ITEMS.IDB");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = Gamedb(dir, "pack single game.res:readme.txt.udb");
    EXPECT_EQ(r.exitCode, 2) << r.err;   // tables of items under a units name
    r = Gamedb(dir, "pack single game.res:Other.idb");
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_TRUE(Contains(r.err, "has no member \"Other.idb\" to replace")) << r.err;
    ASSERT_EQ(Gamedb(dir, "pack single alone.idb").exitCode, 0);
    const resarc::Archive archive = resarc::Archive::Open(dir / "game.res");
    ASSERT_EQ(archive.Entries().size(), 2u);
    EXPECT_TRUE(archive.Read(*archive.Find("Items.idb")) == ReadFile(dir / "alone.idb"));
    std::vector<std::string> names;
    for (const auto& file : fs::directory_iterator(dir.path())) names.push_back(file.path().filename().string());
    EXPECT_EQ(std::count_if(names.begin(), names.end(), [](const std::string& n) { return Contains(n, ".tmp"); }), 0);
}

// idb2txt converts an archive's items database in place: the same tables as
// from the file itself.
TEST(ArchiveCli, Idb2txtConvertsTheItemsDatabaseOfAnArchive) {
    TempDir dir;
    const fs::path sample = fs::path(IDB_SOURCE_DIR) / "samples" / "Items.idb";
    fs::copy_file(sample, dir / "Items.idb");
    WriteFile(dir / "readme.txt", "text");
    ASSERT_EQ(Gamedb(dir, "res create one.res readme.txt Items.idb").exitCode, 0);
    ASSERT_EQ(Gamedb(dir, "res create two.res Items.idb").exitCode, 0);
    ASSERT_EQ(Gamedb(dir, "res add two.res Items.idb --as data/Other.IDB").exitCode, 0);
    ASSERT_EQ(Gamedb(dir, "res create none.res readme.txt").exitCode, 0);
    ASSERT_EQ(Gamedb(dir, "res create foreign.res readme.txt --quiet").exitCode, 0);
    ASSERT_EQ(Gamedb(dir, "res add foreign.res readme.txt --as fake.idb").exitCode, 0);

    Result r = RunProgram(dir, IDB2TXT_PATH, "Items.idb plain");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    struct Case {
        const char* args;
        const char* folder;
        const char* summary;
    };
    const Case kConversions[] = {
        {"one.res a", "a", "converted \"one.res:Items.idb\" into \"a\""},
        {"two.res:DATA/other.idb b", "b", "converted \"two.res:data\\Other.IDB\" into \"b\""},
    };
    for (const Case& c : kConversions) {
        r = RunProgram(dir, IDB2TXT_PATH, c.args);
        ASSERT_EQ(r.exitCode, 0) << c.args << ": " << r.err;
        EXPECT_TRUE(Contains(r.err, c.summary)) << r.err;
        for (const char* table : {"Materials.txt", "Weapons.txt", "Armors.txt", "QuickItems.txt", "QuestItems.txt",
                                  "LootItems.txt"}) {
            EXPECT_TRUE(ReadFile(dir / c.folder / table) == ReadFile(dir / "plain" / table)) << c.args << " " << table;
        }
    }

    const Case kRefusals[] = {
        {"two.res c", "c", "holds several items databases: \"Items.idb\" \"data\\Other.IDB\"; name one as ARCHIVE:MEMBER"},
        {"none.res c", "c", "the archive \"none.res\" has no items database (no *.idb member)"},
        {"one.res:missing.idb c", "c", "the archive \"one.res\" has no member \"missing.idb\""},
        {"foreign.res:fake.idb c", "c", "\"foreign.res:fake.idb\" is not an items database: its first byte is 0x74, not 0x1"},
    };
    for (const Case& c : kRefusals) {
        r = RunProgram(dir, IDB2TXT_PATH, c.args);
        EXPECT_EQ(r.exitCode, 2) << c.args << ": " << r.err;
        EXPECT_TRUE(Contains(r.err, c.summary)) << c.args << ": " << r.err;
        EXPECT_FALSE(fs::exists(dir / c.folder)) << c.args;
    }

    // A member cut short is damage named with the member: the reader stops
    // at the member's end, not at the archive's.
    const std::string items = ReadFile(dir / "Items.idb");
    WriteFile(dir / "Cut.idb", items.substr(0, items.size() / 2));
    ASSERT_EQ(Gamedb(dir, "res create cut.res Cut.idb readme.txt").exitCode, 0);
    r = RunProgram(dir, IDB2TXT_PATH, "cut.res d");
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_TRUE(Contains(r.err, "idb2txt: \"cut.res:Cut.idb\": ")) << r.err;
    EXPECT_TRUE(Contains(r.err, "unexpected end of data at offset")) << r.err;
}

// Nothing changed, nothing written: replace with the same bytes, pack of an
// unedited folder and of an unedited database leave the archive's bytes and
// modification time. A change says what it did; holes are listed and
// `res compact` drops them.
TEST(ArchiveCli, ChangesInPlaceAndCompact) {
    TempDir dir;
    WriteFile(dir / "a.txt", std::string(20, 'a'));
    WriteFile(dir / "b.txt", "bb");
    WriteFile(dir / "Items.idb", Items(5));
    ASSERT_EQ(Gamedb(dir, "res create game.res b.txt a.txt Items.idb").exitCode, 0);
    ASSERT_EQ(Gamedb(dir, "unpack game.res mod").exitCode, 0);
    ASSERT_EQ(Gamedb(dir, "unpack game.res:Items.idb single").exitCode, 0);
    const std::string original = ReadFile(dir / "game.res");
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(30);
    fs::last_write_time(dir / "game.res", old);

    for (const char* command : {"res replace game.res a.txt", "pack mod game.res", "pack single game.res:items.idb"}) {
        const Result r = Gamedb(dir, command);
        ASSERT_EQ(r.exitCode, 0) << command << ": " << r.err;
        EXPECT_TRUE(Contains(r.err, "nothing changed")) << command << ": " << r.err;
        EXPECT_EQ(ReadFile(dir / "game.res"), original) << command;
        EXPECT_EQ(fs::last_write_time(dir / "game.res"), old) << command;
    }

    WriteFile(dir / "b.txt", std::string(100, 'b'));
    Result r = Gamedb(dir, "res replace game.res b.txt");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "written after the last member: \"b.txt\"")) << r.err;
    r = Gamedb(dir, "res list game.res");
    EXPECT_TRUE(Contains(r.err, "3 members in \"game.res\"; 1 hole holds 16 bytes (res compact drops them)")) << r.err;

    WriteFile(dir / "c.txt", "c");
    r = Gamedb(dir, "res add game.res c.txt");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "the table was rebuilt")) << r.err;

    r = Gamedb(dir, "res compact game.res");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "4 members in name order")) << r.err;
    r = Gamedb(dir, "res list game.res");
    EXPECT_TRUE(Contains(r.err, "; no holes")) << r.err;
    const resarc::Archive compact = resarc::Archive::Open(dir / "game.res");
    std::vector<std::string> names;
    for (const resarc::Entry& entry : compact.Entries()) names.push_back(entry.name);
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.txt", "c.txt", "Items.idb"}));
    EXPECT_EQ(compact.Read(*compact.Find("b.txt")), std::string(100, 'b'));
    EXPECT_EQ(compact.Read(*compact.Find("Items.idb")), Items(5));
}
